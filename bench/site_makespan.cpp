// Site makespan benchmark: one `strelvane-cli upgrade --all` of N simulated NVRs in the lab
// (scripts/lab), with real waits. Each device stops answering shortly after its upload and
// is back S seconds after it; the upgrade should end soon after the last one is back, not
// after the full reboot countdown. Reports the search, the uploads, each device's times and
// the makespan against 1.5 x (search + longest upload-to-back + 10 s settle + the uploads'
// wall time). Needs root. Usage: site_makespan [--devices N] [--image-mib M] [--back-after-s S]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/json_field.h"
#include "support/lab_network.h"
#include "support/temp_dir.h"
#include "upgrade/upload_images.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kSettleSeconds = 10.0;
constexpr double kBoundFactor = 1.5;
constexpr auto kRunLimit = 10min;
// The device writes its flash this long after the upload before it goes away: the search
// has to miss it for 5 s before its return counts, so it is away for the rest of S.
constexpr int kRestartDelayMs = 2000;

int Usage() {
    std::fprintf(stderr,
                 "usage: site_makespan [--devices N (1-254)] [--image-mib M (1-64)] "
                 "[--back-after-s S (8-300)]\n");
    return 2;
}

// Seconds since the command started at each step of one device; negative when not seen.
struct DeviceTimes {
    double UploadStart = -1;
    double UploadEnd = -1;
    double Back = -1;
    double UploadEndedReport = -1;  // the command's stage 2 report, which frees a place
    double Final = -1;
    int Code = 1;  // not ended
    std::string Text;
    // The seconds left of its first and last stage 0 reports after the upload.
    int FirstCountdown = -1;
    int LastCountdown = -1;
};

// Notes one line of devsim's output: upload started, upload read, device back.
void NoteDevsimLine(const std::string& line, double at, std::map<std::string, DeviceTimes>& times) {
    std::map<std::string, std::string> fields = KeyValueFields(line);
    if (line.rfind("upload-start ", 0) == 0) {
        DeviceTimes& t = times[fields["device"]];
        if (t.UploadStart < 0) t.UploadStart = at;
    } else if (line.rfind("upload ", 0) == 0) {
        times[fields["device"]].UploadEnd = at;
    } else if (line.rfind("device ", 0) == 0 && line.find(" back ") != std::string::npos) {
        times[fields["id"]].Back = at;
    }
}

void NoteCliLine(const std::string& line, double at, std::map<std::string, DeviceTimes>& times) {
    const std::string id = JsonField(line, "DeviceId");
    if (id.empty()) return;
    DeviceTimes& t = times[id];
    const std::string stage = JsonField(line, "stage");
    if (stage == "32") {
        t.Final = at;
        t.Code = std::atoi(JsonField(line, "code").c_str());
        t.Text = JsonField(line, "text");
    } else if (stage == "2") {
        t.UploadEndedReport = at;
    } else if (stage == "0" && t.UploadEnd >= 0) {
        t.LastCountdown = std::atoi(JsonField(line, "seconds").c_str());
        if (t.FirstCountdown < 0) t.FirstCountdown = t.LastCountdown;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 48;
    int imageMib = 8;
    int backAfter = 20;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) return Usage();
        const std::string option = argv[i];
        const int value = std::atoi(argv[++i]);
        if (option == "--devices" && value >= 1 && value <= 254) {
            devices = value;
        } else if (option == "--image-mib" && value >= 1 && value <= 64) {
            imageMib = value;
        } else if (option == "--back-after-s" && value >= 8 && value <= 300) {
            backAfter = value;
        } else {
            return Usage();
        }
    }
    if (std::string why = LabNetwork::Unavailable(); !why.empty()) {
        std::fprintf(stderr, "site makespan benchmark: %s\n", why.c_str());
        return 1;
    }
    try {
        LabNetwork lab({.Devices = devices});
        TempDir dir;
        dir.Write("fw.bin", MarkedImage(static_cast<size_t>(imageMib) << 20, "2.0.0"));
        const int awaySeconds = backAfter - kRestartDelayMs / 1000;
        DevsimProcess sim({"--discovery", "--devices", std::to_string(devices),
                           "id=D{n},address=198.18.1.{n},model=NVR-1600,"
                           "http_port=80,https_port=-1,firmware=1.0.0,restart_delay_ms=" +
                               std::to_string(kRestartDelayMs) +
                               ",reboot_seconds=" + std::to_string(awaySeconds)},
                          lab.InDevices());
        std::printf("%d NVRs, %d MiB image, back %d s after the upload (real waits)\n", devices,
                    imageMib, backAfter);

        // Its history and in-flight journal stay in the temporary folder.
        std::vector<std::string> command = {"env", "XDG_STATE_HOME=" + dir.File("state")};
        for (const std::string& word : lab.InTech()) command.push_back(word);
        for (const std::string& word :
             {std::string(STRELVANE_CLI_PATH), std::string("upgrade"), std::string("--all"),
              std::string("--file"), dir.File("fw.bin"), std::string("--password"),
              std::string("vqmtz"), std::string("--interface"), std::string("eth0")}) {
            command.push_back(word);
        }
        const auto start = SteadyClock::now();
        const auto since = [&] {
            return std::chrono::duration<double>(SteadyClock::now() - start).count();
        };
        ChildProcess cli(command);
        std::map<std::string, DeviceTimes> times;
        double firstReport = -1;
        bool ended = false;
        while (SteadyClock::now() - start < kRunLimit) {
            std::optional<std::string> line = cli.ReadLine(20ms);
            if (line) {
                if (firstReport < 0) firstReport = since();
                NoteCliLine(*line, since(), times);
            }
            while (auto simLine = sim.Process().ReadLine(0ms)) {
                NoteDevsimLine(*simLine, since(), times);
            }
            if (!line && cli.Wait(0ms)) {
                ended = true;
                break;
            }
        }
        const double makespan = since();
        const std::optional<int> exitCode = ended ? cli.Wait(0ms) : std::nullopt;

        double firstUpload = -1, lastUploadEnd = 0, longestToBack = 0, longestUpload = 0;
        double longestToFinal = 0;
        int successful = 0;
        std::printf("%-5s %9s %9s %9s %9s %9s %6s  %s\n", "id", "upload@s", "upload s", "stage 2@s",
                    "to back", "to final", "code", "countdown after upload (s)");
        for (int n = 1; n <= devices; ++n) {
            const std::string id = "D" + std::to_string(n);
            const DeviceTimes& t = times[id];
            const bool uploaded = t.UploadStart >= 0 && t.UploadEnd >= 0;
            if (uploaded) {
                if (firstUpload < 0 || t.UploadStart < firstUpload) firstUpload = t.UploadStart;
                lastUploadEnd = std::max(lastUploadEnd, t.UploadEnd);
                longestUpload = std::max(longestUpload, t.UploadEnd - t.UploadStart);
                if (t.Back >= 0) longestToBack = std::max(longestToBack, t.Back - t.UploadEnd);
                if (t.Final >= 0) longestToFinal = std::max(longestToFinal, t.Final - t.UploadEnd);
            }
            if (t.Final >= 0 && t.Code == 0) ++successful;
            std::printf("%-5s %9.1f %9.2f %9.1f %9.1f %9.1f %6d  %d to %d %s\n", id.c_str(),
                        t.UploadStart, uploaded ? t.UploadEnd - t.UploadStart : -1.0,
                        t.UploadEndedReport, uploaded && t.Back >= 0 ? t.Back - t.UploadEnd : -1.0,
                        uploaded && t.Final >= 0 ? t.Final - t.UploadEnd : -1.0, t.Code,
                        t.FirstCountdown, t.LastCountdown, t.Text.c_str());
        }
        const double uploads = firstUpload >= 0 ? lastUploadEnd - firstUpload : 0;
        const double bound =
            kBoundFactor * (firstReport + longestToBack + kSettleSeconds + uploads);
        std::printf("search (to the first report) %.1f s, first upload at %.1f s\n", firstReport,
                    firstUpload);
        std::printf(
            "uploads' wall time %.1f s (longest upload %.2f s), longest upload-to-back "
            "%.1f s, longest upload-to-final %.1f s\n",
            uploads, longestUpload, longestToBack, longestToFinal);
        std::printf(
            "makespan %.1f s%s, exit %d; bound %.1f x (%.1f + %.1f + %.0f + %.1f) = %.1f s\n",
            makespan, ended ? "" : " (killed at the limit)", exitCode.value_or(-1), kBoundFactor,
            firstReport, longestToBack, kSettleSeconds, uploads, bound);
        const bool within = ended && makespan <= bound;
        std::printf("result: %d/%d successful, makespan %s the bound\n", successful, devices,
                    within ? "within" : "NOT within");
        return within && successful == devices ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "site makespan benchmark: %s\n", e.what());
        return 1;
    }
}
