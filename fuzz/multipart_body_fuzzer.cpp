// The simulator's multipart reader (what a device's upload CGI sees), fed in pieces of
// any size: a body split differently must read the same.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "multipart_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string contentType = in.ConsumeRandomLengthString(128);
    const size_t piece = in.ConsumeIntegralInRange<size_t>(1, 4096);
    const std::string body = in.ConsumeRemainingBytesAsString();
    std::string boundary = MultipartBoundary(contentType);
    if (boundary.empty()) boundary = "-----7dd232271207a8";

    MultipartStream whole(boundary);
    const bool wholeOk = whole.Feed(body.data(), body.size()) && whole.Finish();
    MultipartStream pieces(boundary);
    bool piecesOk = true;
    for (size_t at = 0; at < body.size() && piecesOk; at += piece)
        piecesOk = pieces.Feed(body.data() + at, std::min(piece, body.size() - at));
    piecesOk = piecesOk && pieces.Finish();

    FUZZ_CHECK(wholeOk == piecesOk);
    if (wholeOk) {
        FUZZ_CHECK(whole.Parts().size() == pieces.Parts().size());
        for (size_t i = 0; i < whole.Parts().size(); ++i) {
            FUZZ_CHECK(whole.Parts()[i].Size == pieces.Parts()[i].Size);
            FUZZ_CHECK(whole.Parts()[i].Start == pieces.Parts()[i].Start);
            FUZZ_CHECK(whole.Parts()[i].Start.size() <= MultipartStream::kKeptBytes);
        }
    }
    return 0;
}
