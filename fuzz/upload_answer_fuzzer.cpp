// The device's answer to the hand-built cgi_main upload, as the socket collects it:
// whether it is complete yet, and the verdict taken from it.
#include <cstdint>
#include <string>

#include "base/result_codes.h"
#include "families/maker/upload_answer.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    // The socket asks after every piece that arrives.
    for (size_t cut = 0; cut <= answer.size(); cut += 1 + cut / 4) {
        AnswerComplete(answer.substr(0, cut));
    }
    const bool complete = AnswerComplete(answer);
    // More bytes never make a complete answer incomplete.
    if (complete) FUZZ_CHECK(AnswerComplete(answer + "x"));
    const int verdict = JudgeAnswer(answer);
    FUZZ_CHECK(verdict == rc::kOk || verdict == rc::kImageRejected ||
               verdict == rc::kHttpUnauthorized || verdict == rc::kHttpNotFound ||
               verdict == rc::kFailed);
    return 0;
}
