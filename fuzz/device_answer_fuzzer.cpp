// What a device's web server sends back to our queries: the answer head line by line,
// a text body through the in-memory sink (with its size cap), the "name=" values taken
// from it, and the Content-Range checks of a resumed download.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "base/text.h"
#include "fuzz_check.h"
#include "web/content_range.h"
#include "web/curl_easy.h"
#include "web/http_base.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    StallWatch watch(0);
    AnswerHeaders headers(watch);
    const size_t lines = in.ConsumeIntegralInRange<size_t>(0, 16);
    for (size_t i = 0; i < lines; ++i) headers.TakeLine(in.ConsumeRandomLengthString(256));
    const std::string range = headers.Value("Content-Range");
    const int64_t offset = in.ConsumeIntegral<int64_t>();
    RangeStartsAt(range, offset);
    RangeOfAnotherSize(range, offset);
    if (range.empty())
        FUZZ_CHECK(RangeStartsAt(range, offset) && !RangeOfAnotherSize(range, offset));

    const size_t limit = in.ConsumeIntegralInRange<size_t>(1, 4096);
    CHTTPBase sink(limit);
    std::string target = "untouched";
    sink.BeginBody(target, 0);
    size_t written = 0;
    while (in.remaining_bytes() > 0 && sink.CanContinue()) {
        const std::string chunk = in.ConsumeRandomLengthString(512);
        sink.WriteBody(chunk.data(), chunk.size());
        written += chunk.size();
    }
    sink.EndBody(target);
    if (sink.TooLarge()) {
        FUZZ_CHECK(written > limit && target == "untouched");
        return 0;
    }
    FUZZ_CHECK(target.size() <= limit && target.find('\0') == std::string::npos);
    for (const char* marker :
         {"nvr.system.product.model=", ".system.product.firmware.version=", "="}) {
        std::string value;
        if (ValueAfterMarker(target, marker, value))
            FUZZ_CHECK(value.find('\n') == std::string::npos && value.size() < target.size());
    }
    return 0;
}
