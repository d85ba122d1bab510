// The download progress estimate fed with whatever sizes the catalogue and the server's
// answers give: percent stays within 0..100 and the time left is never negative.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "fuzz_check.h"
#include "web/download_progress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    DownloadProgressEstimator estimate(in.ConsumeIntegral<int64_t>(),
                                       in.ConsumeIntegral<int64_t>());
    int64_t now = in.ConsumeIntegral<int64_t>();
    estimate.Start(now);
    while (in.remaining_bytes() > 0) {
        const int64_t received = in.ConsumeIntegral<int64_t>();
        const int64_t remaining = in.ConsumeIntegral<int64_t>();
        now = in.ConsumeIntegral<int64_t>();
        int secondsLeft = -1;
        int percent = -1;
        if (estimate.Add(received, remaining, now, secondsLeft, percent)) {
            FUZZ_CHECK(percent >= 0 && percent <= 100);
            FUZZ_CHECK(secondsLeft >= 0 && secondsLeft < 100 * 3600);
        }
    }
    return 0;
}
