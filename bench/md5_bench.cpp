// MD5 verification of a stored image (ComputeFileMD5) beside md5sum on the same file,
// and the verifier's peak memory for two image sizes.
// Usage: md5_bench [MiB] [small MiB]   (default 1024 and 128)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_files.h"
#include "firmware/file_md5.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double TimeIt(const auto& work) {
    const auto start = SteadyClock::now();
    work();
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// Peak resident memory of a child that verifies `path` and nothing else, in KiB.
long VerifierPeakKiB(const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::string md5;
        ::_exit(ComputeFileMD5(path, md5) ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int64_t smallMib = argc > 2 ? std::atoll(argv[2]) : 128;
    TempDir scratch;
    const std::string big = scratch.Path() + "/big.bin";
    const std::string small = scratch.Path() + "/small.bin";
    const std::string expected = WriteImage(big, mib << 20, true);
    if (expected.empty() || WriteImage(small, smallMib << 20, true).empty()) {
        std::fprintf(stderr, "cannot write the images under the temporary folder\n");
        return 1;
    }

    // Both read from the page cache: a first pass warms it, then the best of three.
    std::string md5;
    ComputeFileMD5(big, md5);
    double ours = 1e9;
    double theirs = 1e9;
    int md5sumExit = 0;
    for (int round = 0; round < 3; ++round) {
        ours = std::min(ours, TimeIt([&] { ComputeFileMD5(big, md5); }));
        theirs =
            std::min(theirs, TimeIt([&] {
                         md5sumExit = RunProcess({"md5sum", big}, std::chrono::minutes(5)).ExitCode;
                     }));
    }
    const double mb = static_cast<double>(mib << 20) / 1e6;
    std::printf("image: %lld MiB (+4-byte header), from the page cache\n",
                static_cast<long long>(mib));
    std::printf("ComputeFileMD5: %6.3f s = %7.1f MB/s\n", ours, mb / ours);
    std::printf("md5sum:         %6.3f s = %7.1f MB/s (exit %d)\n", theirs, mb / theirs,
                md5sumExit);
    std::printf("ComputeFileMD5 runs at %.1f %% of md5sum's speed\n", 100.0 * theirs / ours);
    std::printf("verifier peak RSS: %ld KiB for %lld MiB, %ld KiB for %lld MiB\n",
                VerifierPeakKiB(small), static_cast<long long>(smallMib), VerifierPeakKiB(big),
                static_cast<long long>(mib));
    return md5 == expected && md5sumExit == 0 ? 0 : 1;
}
