// Firmware upload over loopback to devsim: UploadCgiMain's time beside curl posting the
// same form to the same endpoint, the peak memory of the uploading process (and of
// devsim) for two image sizes, and the aggregate rate of concurrent uploads.
// Usage: upload_bench [--sizes MIB,MIB...] [--concurrent N] [--concurrent-mib MIB]
// See bench/README.md.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "upgrade/cgi_main_upload.h"

namespace {

using namespace std::chrono_literals;

// A field of /proc/<pid>/status in KiB ("VmRSS").
int64_t StatusKiB(int pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (StartsWith(line, field + ":")) return ParseDecimal(line.substr(field.size() + 1));
    }
    return -1;
}

// An image of `mib` MiB: the mark, then a repeated block of varied bytes.
void WriteImage(const std::string& path, int mib) {
    std::string block(1 << 20, '\0');
    uint32_t x = 2463534242u;
    for (char& c : block) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    std::ofstream out(path, std::ios::binary);
    out.write("QRBA", 4);
    for (int i = 0; i < mib; ++i) {
        out.write(block.data() + (i == 0 ? 4 : 0),
                  static_cast<std::streamsize>(block.size() - (i == 0 ? 4 : 0)));
    }
}

// Child mode: uploads `path` to every URL at once, one thread each, and prints its
// resident size before the uploads, its peak, the time and the failures.
int RunUploads(const std::string& path, const std::vector<std::string>& urls) {
    const int64_t idle = StatusKiB(::getpid(), "VmRSS");
    std::vector<int> results(urls.size(), 1);
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::jthread> uploads;
        for (size_t i = 0; i < urls.size(); ++i) {
            uploads.emplace_back([&, i] {
                std::atomic<int64_t> size{0};
                std::atomic<int64_t> sent{0};
                results[i] = UploadCgiMain("admin", "vqmtz", urls[i], path, size, sent);
            });
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int failed = 0;
    for (int r : results) failed += r != 0;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("failed=%d seconds=%.3f idle_kib=%lld peak_kib=%ld\n", failed, seconds,
                static_cast<long long>(idle), usage.ru_maxrss);
    return 0;
}

struct Run {
    double Seconds = 0;
    double PeakMiB = 0;
    double IdleMiB = 0;
    bool Ok = false;
};

class Bench {
public:
    Bench(int devices)
        : sim_({"--devices", std::to_string(devices), "id=d{n},reboot_seconds=3600"}) {}

    const TempDir& Folder() const { return folder_; }
    int DevsimPid() { return sim_.Process().Pid(); }

    // UploadCgiMain from a child process, to the next `count` devices at once.
    Run Ours(const std::string& image, int count) {
        std::vector<std::string> argv = {std::filesystem::read_symlink("/proc/self/exe").string(),
                                         "--child-upload", image};
        for (int i = 0; i < count; ++i) argv.push_back(NextUrl());
        ChildProcess child(argv);
        auto f = KeyValueFields(child.ReadLine(600s).value_or(""));
        Run run;
        run.Ok = child.Wait(60s) == 0 && f["failed"] == "0" && Accepted(count);
        run.Seconds = std::atof(f["seconds"].c_str());
        run.IdleMiB = ParseDecimal(f["idle_kib"]) / 1024.0;
        run.PeakMiB = ParseDecimal(f["peak_kib"]) / 1024.0;
        return run;
    }

    // curl posting the same form, streamed from the file, to the next device.
    Run Curl(const std::string& image) {
        ChildProcess child({"/usr/bin/time",
                            "-f",
                            "peak_kib=%M",
                            "-o",
                            "/dev/stdout",
                            "curl",
                            "-s",
                            "-o",
                            "/dev/null",
                            "-w",
                            "status=%{http_code} seconds=%{time_total}\n",
                            "-u",
                            "admin:vqmtz",
                            "-H",
                            "Expect:",
                            "-F",
                            "file=@" + image + ";filename=E;type=application/octet-stream",
                            "-F",
                            "cgiName=upgrade.cgi",
                            NextUrl()});
        auto f = KeyValueFields(child.ReadLine(600s).value_or("") + " " +
                                child.ReadLine(60s).value_or(""));
        Run run;
        run.Ok = child.Wait(60s) == 0 && f["status"] == "200" && Accepted(1);
        run.Seconds = std::atof(f["seconds"].c_str());
        run.PeakMiB = ParseDecimal(f["peak_kib"]) / 1024.0;
        return run;
    }

private:
    std::string NextUrl() {
        const auto& device = sim_.Devices().at(next_++);
        return "http://127.0.0.1:" + std::to_string(device.HttpPort) + "/cgi-bin/cgi_main.cgi";
    }

    // devsim took the next `count` uploads whole.
    bool Accepted(int count) {
        for (int i = 0; i < count;) {
            const auto line = sim_.Process().ReadLine(60s);
            if (!line) return false;
            if (!StartsWith(*line, "upload ")) continue;
            auto f = KeyValueFields(*line);
            if (f["verdict"] != "accepted" || f["received"] != f["content_length"]) {
                std::fprintf(stderr, "devsim: %s\n", line->c_str());
                return false;
            }
            ++i;
        }
        return true;
    }

    TempDir folder_;
    DevsimProcess sim_;
    size_t next_ = 0;
};

int RunBench(const std::vector<int>& sizes, int concurrent, int concurrentMib) {
    Bench bench(2 * static_cast<int>(sizes.size()) + concurrent);
    // The kernel's high-water mark of another process lags; sample its resident size.
    const int pid = bench.DevsimPid();
    const int64_t simIdle = StatusKiB(pid, "VmRSS");
    std::atomic<int64_t> simPeak{simIdle};
    std::jthread sampler([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            simPeak = std::max<int64_t>(simPeak, StatusKiB(pid, "VmRSS"));
            std::this_thread::sleep_for(5ms);
        }
    });

    bool ok = true;
    std::printf("%-20s %8s %8s %9s %10s %10s %10s\n", "upload", "ours s", "curl s", "ours/curl",
                "ours MiB/s", "ours peak", "curl peak");
    for (int mib : sizes) {
        const std::string image = bench.Folder().File("image.bin");
        WriteImage(image, mib);
        const Run ours = bench.Ours(image, 1);
        const Run curl = bench.Curl(image);
        ok = ok && ours.Ok && curl.Ok;
        std::printf(
            "%-20s %8.3f %8.3f %9.2f %10.0f %6.1f MiB %6.1f MiB  (ours +%.1f MiB over idle)\n",
            StrFormat("one image, %d MiB", mib).c_str(), ours.Seconds, curl.Seconds,
            ours.Seconds / curl.Seconds, mib / ours.Seconds, ours.PeakMiB, curl.PeakMiB,
            ours.PeakMiB - ours.IdleMiB);
        std::filesystem::remove(image);
    }
    if (concurrent > 0) {
        const std::string image = bench.Folder().File("image.bin");
        WriteImage(image, concurrentMib);
        const Run run = bench.Ours(image, concurrent);
        ok = ok && run.Ok;
        std::printf(
            "%d uploads of %d MiB at once: %.3f s, aggregate %.0f MiB/s, peak %.1f MiB "
            "(+%.1f MiB over idle)\n",
            concurrent, concurrentMib, run.Seconds, concurrent * concurrentMib / run.Seconds,
            run.PeakMiB, run.PeakMiB - run.IdleMiB);
        std::filesystem::remove(image);
    }
    sampler.request_stop();
    sampler.join();
    std::printf("devsim resident: %.1f MiB idle, peak %.1f MiB\n", simIdle / 1024.0,
                simPeak / 1024.0);
    if (!ok) std::fprintf(stderr, "an upload failed\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "--child-upload") {
        return RunUploads(args[1], {args.begin() + 2, args.end()});
    }
    std::vector<int> sizes = {64, 256};
    int concurrent = 16;
    int concurrentMib = 64;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--sizes") {
            sizes.clear();
            for (const std::string& n : SplitAny(args[i + 1], ","))
                sizes.push_back(std::atoi(n.c_str()));
        } else if (args[i] == "--concurrent") {
            concurrent = std::atoi(args[i + 1].c_str());
        } else if (args[i] == "--concurrent-mib") {
            concurrentMib = std::atoi(args[i + 1].c_str());
        }
    }
    return RunBench(sizes, concurrent, concurrentMib);
}
