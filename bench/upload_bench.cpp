// Firmware uploads over loopback to devsim, each beside curl posting the same form to the
// same kind of endpoint: the NVR family's raw-socket cgi_main upload and the "PLX-420S"
// firmwareupgrade upload, over HTTP or (--tls) HTTPS, for several image sizes in
// interleaved rounds, with the peak memory of the uploading process; then many uploads at
// once (aggregate rate, peak memory). Ends with a summary of medians.
// Usage: upload_bench [--sizes MIB,MIB...] [--rounds N] [--tls] [--concurrent N]
//                     [--concurrent-mib MIB]
// See bench/README.md.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "families/maker/cgi_main_upload.h"
#include "families/maker/firmware_cgi_upload.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "web/curl_easy.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "vqmtz";
constexpr double kMemoryTargetMiB = 8;

// The two upload exchanges; the "PLX-420S" one names its part after the image file.
enum class Kind { Raw, Plx };

const char* KindName(Kind kind) { return kind == Kind::Raw ? "raw" : "plx"; }

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
int RunUploads(Kind kind, const std::string& path, const std::vector<std::string>& urls) {
    // Library set-up (TLS included) is the program's, once at start-up; curl's own time
    // leaves its set-up out too.
    EnsureCurlReady();
    const int64_t idle = StatusKiB(::getpid(), "VmRSS");
    std::vector<int> results(urls.size(), 1);
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::jthread> uploads;
        for (size_t i = 0; i < urls.size(); ++i) {
            uploads.emplace_back([&, i] {
                if (kind == Kind::Raw) {
                    std::atomic<int64_t> size{0};
                    std::atomic<int64_t> sent{0};
                    results[i] = UploadCgiMain(kUser, kPassword, urls[i], path, size, sent);
                } else {
                    std::string answer;
                    results[i] = UploadFirmwareCgi(kUser, kPassword, urls[i], path,
                                                   ImageFileName(path), answer);
                }
            });
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int failed = 0;
    for (int r : results) failed += r != 0;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto cpu = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    std::printf("failed=%d seconds=%.3f idle_kib=%lld peak_kib=%ld cpu_user=%.3f cpu_sys=%.3f\n",
                failed, seconds, static_cast<long long>(idle), usage.ru_maxrss, cpu(usage.ru_utime),
                cpu(usage.ru_stime));
    return 0;
}

struct Run {
    double Seconds = 0;
    // Processor time of the uploading process (all of curls at once), user and system.
    double CpuSeconds = 0;
    double PeakMiB = 0;
    double IdleMiB = 0;
    bool Ok = false;
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

class Bench {
public:
    Bench(int devices, bool tls)
        : sim_({"--devices", std::to_string(devices), "id=d{n},reboot_seconds=3600"}), tls_(tls) {}

    const TempDir& Folder() const { return folder_; }
    int DevsimPid() { return sim_.Process().Pid(); }

    // Our upload from a child process, to the next `count` devices at once.
    Run Ours(Kind kind, const std::string& image, int count) {
        std::vector<std::string> argv = {std::filesystem::read_symlink("/proc/self/exe").string(),
                                         "--child-upload", KindName(kind), image};
        for (int i = 0; i < count; ++i) argv.push_back(NextUrl(kind, image));
        ChildProcess child(argv);
        auto f = KeyValueFields(child.ReadLine(900s).value_or(""));
        Run run;
        run.Ok = child.Wait(60s) == 0 && f["failed"] == "0" && Accepted(count);
        run.Seconds = std::atof(f["seconds"].c_str());
        run.CpuSeconds = std::atof(f["cpu_user"].c_str()) + std::atof(f["cpu_sys"].c_str());
        run.IdleMiB = static_cast<double>(ParseDecimal(f["idle_kib"])) / 1024;
        run.PeakMiB = static_cast<double>(ParseDecimal(f["peak_kib"])) / 1024;
        return run;
    }

    // `count` curl processes at once, each posting the same form, streamed from the
    // file, to the next device: the longest of their own transfer times, and the
    // largest peak of one of them.
    Run Curl(Kind kind, const std::string& image, int count) {
        std::vector<std::unique_ptr<ChildProcess>> curls;
        for (int i = 0; i < count; ++i) {
            const std::string part = kind == Kind::Raw ? "file" : ImageFileName(image);
            std::vector<std::string> argv = {"/usr/bin/time",
                                             "-f",
                                             "peak_kib=%M cpu_user=%U cpu_sys=%S",
                                             "-o",
                                             "/dev/stdout",
                                             "curl",
                                             "-s",
                                             "-o",
                                             "/dev/null",
                                             "-w",
                                             "status=%{http_code} seconds=%{time_total}\n",
                                             "-u",
                                             std::string(kUser) + ":" + kPassword,
                                             "-H",
                                             "Expect:",
                                             "-F",
                                             part + "=@" + image +
                                                 ";filename=" + (kind == Kind::Raw ? "E" : part) +
                                                 ";type=application/octet-stream"};
            if (kind == Kind::Raw) argv.insert(argv.end(), {"-F", "cgiName=upgrade.cgi"});
            if (tls_) argv.push_back("-k");
            argv.push_back(NextUrl(kind, image));
            curls.push_back(std::make_unique<ChildProcess>(argv));
        }
        Run run;
        run.Ok = true;
        for (auto& curl : curls) {
            auto f = KeyValueFields(curl->ReadLine(900s).value_or("") + " " +
                                    curl->ReadLine(60s).value_or(""));
            run.Ok = run.Ok && curl->Wait(60s) == 0 && f["status"] == "200";
            run.Seconds = std::max(run.Seconds, std::atof(f["seconds"].c_str()));
            run.CpuSeconds += std::atof(f["cpu_user"].c_str()) + std::atof(f["cpu_sys"].c_str());
            run.PeakMiB =
                std::max(run.PeakMiB, static_cast<double>(ParseDecimal(f["peak_kib"])) / 1024);
        }
        run.Ok = run.Ok && Accepted(count);
        return run;
    }

private:
    std::string NextUrl(Kind kind, const std::string& image) {
        const auto& device = sim_.Devices().at(next_++);
        const int port = tls_ ? device.HttpsPort : device.HttpPort;
        const std::string scheme = tls_ ? "https" : "http";
        if (kind == Kind::Plx) {
            return FirmwareUpgradeUrl(scheme, "127.0.0.1", port, ImageFileName(image));
        }
        return scheme + "://127.0.0.1:" + std::to_string(port) + "/cgi-bin/cgi_main.cgi";
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
    bool tls_;
    size_t next_ = 0;
};

// One line of the summary: one kind of upload of one image size, over the rounds.
struct Row {
    Kind What = Kind::Raw;
    int Mib = 0;
    std::vector<Run> Ours;
    std::vector<Run> Curl;
};

template <typename Field>
double MedianOf(const std::vector<Run>& runs, Field field) {
    std::vector<double> values;
    for (const Run& run : runs) values.push_back(field(run));
    return Median(values);
}

struct Options {
    std::vector<int> Sizes = {64, 256, 1024};
    int Rounds = 3;
    bool Tls = false;
    int Concurrent = 16;
    int ConcurrentMib = 64;
};

void PrintSummary(const Options& o, const std::vector<Row>& rows) {
    const double target = o.Tls ? 1.10 : 1.05;
    std::printf(
        "\nsummary over %s: medians of %d interleaved rounds; ratio = ours / curl (target "
        "%.2f); cpu = processor seconds of the uploading process; memory = our peak above "
        "idle, largest of the rounds (target < %.0f MiB)\n",
        o.Tls ? "https" : "http", o.Rounds, target, kMemoryTargetMiB);
    std::printf("%-4s %6s %7s %7s %5s  %-16s %6s %8s %8s %6s %6s  %s\n", "kind", "MiB", "ours s",
                "curl s", "ratio", "each round", "MiB/s", "ours cpu", "curl cpu", "memory", "curl",
                "verdict");
    const auto seconds = [](const Run& r) { return r.Seconds; };
    const auto cpu = [](const Run& r) { return r.CpuSeconds; };
    for (const Row& r : rows) {
        std::string each;
        double memory = 0;
        double curlPeak = 0;
        for (size_t i = 0; i < r.Ours.size(); ++i) {
            each += StrFormat("%s%.2f", i ? " " : "", r.Ours[i].Seconds / r.Curl[i].Seconds);
            memory = std::max(memory, r.Ours[i].PeakMiB - r.Ours[i].IdleMiB);
            curlPeak = std::max(curlPeak, r.Curl[i].PeakMiB);
        }
        const double ours = MedianOf(r.Ours, seconds);
        const double curl = MedianOf(r.Curl, seconds);
        const bool ok = ours / curl <= target && memory < kMemoryTargetMiB;
        std::printf("%-4s %6d %7.3f %7.3f %5.2f  %-16s %6.0f %8.3f %8.3f %6.1f %6.1f  %s\n",
                    KindName(r.What), r.Mib, ours, curl, ours / curl, each.c_str(), r.Mib / ours,
                    MedianOf(r.Ours, cpu), MedianOf(r.Curl, cpu), memory, curlPeak,
                    ok ? "ok" : "over target");
    }
}

int RunBench(const Options& o) {
    const int oneImage = static_cast<int>(o.Sizes.size()) * o.Rounds * 2 * 2;
    Bench bench(oneImage + 2 * o.Concurrent, o.Tls);
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
    std::vector<Row> rows;
    std::printf("%-4s %6s %5s %7s %7s %5s %8s %8s %9s %9s\n", "kind", "MiB", "round", "ours s",
                "curl s", "ratio", "ours cpu", "curl cpu", "ours peak", "ours idle");
    for (int mib : o.Sizes) {
        const std::string image = bench.Folder().File("image.bin");
        WriteImage(image, mib);
        for (Kind kind : {Kind::Raw, Kind::Plx}) {
            Row row;
            row.What = kind;
            row.Mib = mib;
            for (int round = 1; round <= o.Rounds; ++round) {
                // Who goes first alternates, so a drift in the machine's load falls on both.
                Run ours;
                Run curl;
                if (round % 2) {
                    ours = bench.Ours(kind, image, 1);
                    curl = bench.Curl(kind, image, 1);
                } else {
                    curl = bench.Curl(kind, image, 1);
                    ours = bench.Ours(kind, image, 1);
                }
                ok = ok && ours.Ok && curl.Ok;
                row.Ours.push_back(ours);
                row.Curl.push_back(curl);
                std::printf("%-4s %6d %5d %7.3f %7.3f %5.2f %8.3f %8.3f %9.1f %9.1f\n",
                            KindName(kind), mib, round, ours.Seconds, curl.Seconds,
                            ours.Seconds / curl.Seconds, ours.CpuSeconds, curl.CpuSeconds,
                            ours.PeakMiB, ours.IdleMiB);
                std::fflush(stdout);
            }
            rows.push_back(row);
        }
        std::filesystem::remove(image);
    }
    std::string concurrent;
    if (o.Concurrent > 0) {
        const std::string image = bench.Folder().File("image.bin");
        WriteImage(image, o.ConcurrentMib);
        const Run ours = bench.Ours(Kind::Raw, image, o.Concurrent);
        const Run curl = bench.Curl(Kind::Raw, image, o.Concurrent);
        ok = ok && ours.Ok && curl.Ok;
        const double total = static_cast<double>(o.Concurrent) * o.ConcurrentMib;
        concurrent = StrFormat(
            "%d raw uploads of %d MiB at once over %s: ours %.3f s, aggregate %.0f MiB/s, cpu "
            "%.3f s, peak %.1f MiB (+%.1f MiB over idle); %d curls at once %.3f s, aggregate "
            "%.0f MiB/s, cpu %.3f s; ratio %.2f\n",
            o.Concurrent, o.ConcurrentMib, o.Tls ? "https" : "http", ours.Seconds,
            total / ours.Seconds, ours.CpuSeconds, ours.PeakMiB, ours.PeakMiB - ours.IdleMiB,
            o.Concurrent, curl.Seconds, total / curl.Seconds, curl.CpuSeconds,
            ours.Seconds / curl.Seconds);
        std::filesystem::remove(image);
    }
    PrintSummary(o, rows);
    std::fputs(concurrent.c_str(), stdout);
    sampler.request_stop();
    sampler.join();
    std::printf("devsim resident: %.1f MiB idle, peak %.1f MiB\n",
                static_cast<double>(simIdle) / 1024, static_cast<double>(simPeak) / 1024);
    if (!ok) std::fprintf(stderr, "an upload failed\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 4 && args[0] == "--child-upload") {
        return RunUploads(args[1] == "raw" ? Kind::Raw : Kind::Plx, args[2],
                          {args.begin() + 3, args.end()});
    }
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool valued = i + 1 < args.size();
        if (args[i] == "--tls") {
            o.Tls = true;
        } else if (args[i] == "--sizes" && valued) {
            o.Sizes.clear();
            for (const std::string& n : SplitAny(args[++i], ",")) {
                o.Sizes.push_back(std::max(1, std::atoi(n.c_str())));
            }
        } else if (args[i] == "--rounds" && valued) {
            o.Rounds = std::max(1, std::atoi(args[++i].c_str()));
        } else if (args[i] == "--concurrent" && valued) {
            o.Concurrent = std::max(0, std::atoi(args[++i].c_str()));
        } else if (args[i] == "--concurrent-mib" && valued) {
            o.ConcurrentMib = std::max(1, std::atoi(args[++i].c_str()));
        } else {
            std::fprintf(stderr,
                         "usage: upload_bench [--sizes MIB,MIB...] [--rounds N] [--tls] "
                         "[--concurrent N] [--concurrent-mib MIB]\n");
            return 2;
        }
    }
    return RunBench(o);
}
