// Firmware upload over loopback to devsim: UploadCgiMain's time beside curl posting the
// same form to the same endpoint, the peak memory of the uploading process (and of
// devsim) for two image sizes, and the aggregate rate of concurrent uploads.
// Usage: upload_bench [--sizes MIB,MIB...] [--concurrent N] [--concurrent-mib MIB]
// See bench/README.md.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "upgrade/cgi_main_upload.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM").
int64_t StatusKiB(const std::string& pid, const std::string& field) {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (StartsWith(line, field + ":")) return ParseDecimal(line.substr(field.size() + 1));
    }
    return -1;
}

// A child program with its standard output on a pipe.
struct Child {
    pid_t Pid = -1;
    int Out = -1;
    std::string Pending;

    explicit Child(const std::vector<std::string>& argv) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawnp(&Pid, args[0], &actions, nullptr, args.data(), environ) != 0) Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        Out = pipeFds[0];
    }

    // The next output line; empty at the end or after `seconds`.
    std::string ReadLine(double seconds) {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            if (size_t end = Pending.find('\n'); end != std::string::npos) {
                std::string line = Pending.substr(0, end);
                Pending.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{Out, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
            char buffer[4096];
            const ssize_t got = ::read(Out, buffer, sizeof(buffer));
            if (got <= 0) return {};
            Pending.append(buffer, static_cast<size_t>(got));
        }
    }

    // Waits for the end; the peak resident size in KiB, -1 when it failed.
    int64_t Wait() {
        int status = 0;
        rusage usage{};
        if (::wait4(Pid, &status, 0, &usage) != Pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            return -1;
        }
        return usage.ru_maxrss;
    }

    ~Child() {
        if (Out >= 0) ::close(Out);
    }
};

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (size_t eq = word.find('='); eq != std::string::npos) {
            fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return fields;
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
    block.replace(0, 4, "QRBA");
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < mib; ++i) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        if (i == 0) block.replace(0, 4, "\x11\x22\x33\x44");
    }
}

// Child mode: uploads `path` to every URL at once, one thread each, and prints its
// resident size before the uploads, the time and the results. Its peak comes from the
// parent's wait4.
int RunUploads(const std::string& path, const std::vector<std::string>& urls) {
    const int64_t idle = StatusKiB(std::to_string(::getpid()), "VmRSS");
    std::vector<int> results(urls.size(), 1);
    const auto start = Clock::now();
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
    const double seconds = Seconds(Clock::now() - start);
    int failed = 0;
    for (int r : results) failed += r != 0;
    std::printf("failed=%d seconds=%.3f idle_kib=%lld\n", failed, seconds,
                static_cast<long long>(idle));
    return 0;
}

struct Setup {
    std::string Self;
    std::string Folder;
    Child* Sim = nullptr;
    std::map<std::string, int> Ports;  // device id -> HTTP port
};

std::string UploadUrl(const Setup& s, const std::string& device) {
    return "http://127.0.0.1:" + std::to_string(s.Ports.at(device)) + "/cgi-bin/cgi_main.cgi";
}

// devsim's verdict on the next upload it reports.
bool DeviceAccepted(Setup& s, int count) {
    for (int i = 0; i < count;) {
        const std::string line = s.Sim->ReadLine(60);
        if (line.empty()) return false;
        if (!StartsWith(line, "upload ")) continue;
        auto f = Fields(line);
        if (f["verdict"] != "accepted" || f["received"] != f["content_length"]) {
            std::fprintf(stderr, "devsim: %s\n", line.c_str());
            return false;
        }
        ++i;
    }
    return true;
}

struct Run {
    double Seconds = 0;
    int64_t IdleKiB = 0;
    int64_t PeakKiB = 0;
    bool Ok = false;
};

Run Ours(Setup& s, const std::string& image, const std::vector<std::string>& devices) {
    std::vector<std::string> argv = {s.Self, "--child-upload", image};
    for (const std::string& d : devices) argv.push_back(UploadUrl(s, d));
    Child child(argv);
    auto f = Fields(child.ReadLine(600));
    Run run;
    run.PeakKiB = child.Wait();
    run.Ok = run.PeakKiB >= 0 && f["failed"] == "0" &&
             DeviceAccepted(s, static_cast<int>(devices.size()));
    run.Seconds = std::atof(f["seconds"].c_str());
    run.IdleKiB = ParseDecimal(f["idle_kib"]);
    return run;
}

Run Curl(Setup& s, const std::string& image, const std::string& device) {
    Child child({"curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{time_total}\n", "-u",
                 "admin:vqmtz", "-H", "Expect:", "-F",
                 "file=@" + image + ";filename=E;type=application/octet-stream", "-F",
                 "cgiName=upgrade.cgi", UploadUrl(s, device)});
    const std::string line = child.ReadLine(600);
    Run run;
    run.PeakKiB = child.Wait();
    run.Ok = run.PeakKiB >= 0 && StartsWith(line, "200 ") && DeviceAccepted(s, 1);
    run.Seconds = std::atof(line.c_str() + 4);
    return run;
}

int Bench(const std::string& self, const std::vector<int>& sizes, int concurrent,
          int concurrentMib) {
    Setup s;
    s.Self = self;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "strelvane-upload-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    s.Folder = pattern;
    const int devices = 2 * static_cast<int>(sizes.size()) + concurrent;
    Child sim({DEVSIM_PATH, "--devices", std::to_string(devices), "id=d{n},reboot_seconds=3600"});
    s.Sim = &sim;
    for (std::string line; (line = sim.ReadLine(30)) != "ready";) {
        if (line.empty()) {
            std::fprintf(stderr, "devsim did not start (%s)\n", DEVSIM_PATH);
            return 1;
        }
        auto f = Fields(line);
        if (StartsWith(line, "device "))
            s.Ports[f["id"]] = static_cast<int>(ParseDecimal(f["http_port"]));
    }
    // The kernel updates VmHWM lazily: sample devsim's resident size instead.
    const std::string simPid = std::to_string(sim.Pid);
    const int64_t simIdle = StatusKiB(simPid, "VmRSS");
    std::atomic<int64_t> simPeak{simIdle};
    std::jthread sampler([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            simPeak = std::max<int64_t>(simPeak, StatusKiB(simPid, "VmRSS"));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    bool ok = true;
    int device = 1;
    std::printf("%-28s %9s %9s %8s %14s %14s\n", "upload", "ours s", "curl s", "ours/curl",
                "ours peak MiB", "curl peak MiB");
    for (int mib : sizes) {
        const std::string image = s.Folder + "/image-" + std::to_string(mib) + ".bin";
        WriteImage(image, mib);
        const Run ours = Ours(s, image, {"d" + std::to_string(device++)});
        const Run curl = Curl(s, image, "d" + std::to_string(device++));
        ok = ok && ours.Ok && curl.Ok;
        std::printf(
            "%-28s %9.3f %9.3f %8.2f %14.1f %14.1f   (ours: %.0f MiB/s, +%.1f MiB over idle)\n",
            StrFormat("one image, %d MiB", mib).c_str(), ours.Seconds, curl.Seconds,
            ours.Seconds / curl.Seconds, ours.PeakKiB / 1024.0, curl.PeakKiB / 1024.0,
            mib / ours.Seconds, (ours.PeakKiB - ours.IdleKiB) / 1024.0);
        std::filesystem::remove(image);
    }
    if (concurrent > 0) {
        const std::string image = s.Folder + "/image-concurrent.bin";
        WriteImage(image, concurrentMib);
        std::vector<std::string> targets;
        for (int i = 0; i < concurrent; ++i) targets.push_back("d" + std::to_string(device++));
        const Run run = Ours(s, image, targets);
        ok = ok && run.Ok;
        std::printf(
            "%d uploads of %d MiB at once: %.3f s, aggregate %.0f MiB/s, peak %.1f MiB "
            "(+%.1f MiB over idle)\n",
            concurrent, concurrentMib, run.Seconds, concurrent * concurrentMib / run.Seconds,
            run.PeakKiB / 1024.0, (run.PeakKiB - run.IdleKiB) / 1024.0);
        std::filesystem::remove(image);
    }
    sampler.request_stop();
    sampler.join();
    std::printf("devsim resident: %.1f MiB idle, peak %.1f MiB\n", simIdle / 1024.0,
                simPeak / 1024.0);
    ::kill(sim.Pid, SIGTERM);
    sim.Wait();
    std::filesystem::remove_all(s.Folder);
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
    std::signal(SIGPIPE, SIG_IGN);
    return Bench(std::filesystem::read_symlink("/proc/self/exe").string(), sizes, concurrent,
                 concurrentMib);
}
