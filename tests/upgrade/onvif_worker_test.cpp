// The ONVIF worker against simulated cameras on 127.0.0.1, run through the manager with
// a fast clock: how each camera's upgrade ends, and what it reports on the way.
#include <gtest/gtest.h>

#include <map>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "families/onvif/onvif_family.h"
#include "families/onvif/onvif_upgrade_steps.h"
#include "pipeline/upgrade_pipeline.h"
#include "support/devsim_process.h"
#include "support/recording_page.h"
#include "support/temp_dir.h"
#include "upgrade/upgrade_manager.h"
#include "upload_images.h"

namespace {

using namespace std::chrono_literals;

// The search never finds the cameras: the worker has only its own looks.
class NoSearch final : public IDeviceFinder {
public:
    void ForgetDevice(const std::string&) override {}
    bool CheckDeviceReturned(const std::string&) override { return false; }
    void FirmwareVersionRead(const std::string&, const std::string&) override {}
};

TEST(OnvifWorkerTest, EveryCameraEndsAsItShould) {
    ClearProxyEnvironment();
    TempDir dir;
    dir.Write("fw.bin", StoredImage(MarkedImage(200000, "2.0.0")));
    const std::string camera =
        "protocol=onvif,firmware=1.0.0,reboot_seconds=1,https_port=-1,upload_delay=PT2S,"
        "image_bytes=200000";
    const struct {
        const char* Id;
        const char* Settings;
        const char* Password;
        int Code;
        int EndedAt;  // the stage before the final report
        const char* After;
    } cases[] = {
        {"DIGEST", "auth=digest", "vqmtz", rc::kOk, stage::kRunning, "2.0.0"},
        {"SKEWED", "auth=token,clock_skew_s=14400", "vqmtz", rc::kOk, stage::kRunning, "2.0.0"},
        // Wants the other way of logging in once it is back.
        {"SWITCH", "auth=digest,fault=auth_after_restart", "vqmtz", rc::kOk, stage::kRunning,
         "2.0.0"},
        {"ACME", "auth=token,image_mark=ACME", "vqmtz", rc::kImageRejected, stage::kUploadEnded,
         ""},
        {"BROKEN", "auth=digest,fault=onvif_upload_error", "vqmtz", rc::kCameraInstallFailed,
         stage::kUploadEnded, ""},
        {"NOHTTP", "auth=digest,fault=onvif_no_http_upgrade", "vqmtz", rc::kNoHttpUpgrade,
         stage::kEndedEarly, ""},
        {"LOCKED", "auth=token", "wrong", rc::kLoginRefused, stage::kEndedEarly, ""},
        {"GONE", "auth=digest,fault=never_back", "vqmtz", rc::kNotSeenAgain, stage::kRunning, ""},
        {"OLD", "auth=token,fault=reboot_old_version", "vqmtz", rc::kOldFirmwareStill,
         stage::kRunning, "1.0.0"},
        // Takes the image without a log-in beside its Digest service: it must get the
        // whole image, never an empty probe.
        {"OPEN", "auth=digest,fault=onvif_open_upload", "vqmtz", rc::kOk, stage::kRunning, "2.0.0"},
        // Restart without answering the upload: the version after the return decides.
        {"MUTE", "auth=digest,fault=onvif_restart_unanswered", "vqmtz", rc::kOk, stage::kRunning,
         "2.0.0"},
        {"MUTEOLD", "auth=token,fault=onvif_restart_unanswered,fault=reboot_old_version", "vqmtz",
         rc::kOldFirmwareStill, stage::kRunning, "1.0.0"},
        {"MUTEGONE", "auth=digest,fault=onvif_restart_unanswered,fault=never_back", "vqmtz",
         rc::kNotSeenAgain, stage::kRunning, ""},
        // Cut before the last byte: a failure of the upload, no wait.
        {"CUT", "auth=digest,fault=drop_mid_upload", "vqmtz", rc::kFailed, stage::kUploadEnded, ""},
    };
    std::vector<std::string> args;
    for (const auto& c : cases) {
        args.push_back("--device");
        args.push_back(std::string("id=") + c.Id + "," + camera + "," + c.Settings);
    }
    DevsimProcess sim(args);

    // Two minutes of margin after the camera's one-second restart: six real seconds.
    const Clock clock(20);
    RecordingPage page;
    CUpgradeManager manager(clock);
    NoSearch search;
    manager.AddObserver(page);
    manager.AddControl(search);
    for (const auto& c : cases) {
        const DevsimProcess::Device& device = sim.DeviceById(c.Id);
        JobRequest request;
        request.Scheme = "http";
        request.DeviceId = c.Id;
        request.Host = "127.0.0.1";
        request.Port = device.HttpPort;
        request.UserName = "admin";
        request.Password = c.Password;
        request.ImageQueue = {dir.File("fw.bin")};
        request.RunFlag = 1;
        request.FirmwareVersion = "1.0.0";
        request.Protocol = DeviceProtocol::Onvif;
        request.ServiceAddresses = {"http://127.0.0.1:" + std::to_string(device.HttpPort) +
                                    "/onvif/device_service"};
        EXPECT_EQ(manager.StartJob(request), c.Id);
    }
    ASSERT_TRUE(page.WaitFor("RunEnds", 60s));

    for (const auto& c : cases) {
        SCOPED_TRACE(c.Id);
        const std::vector<RecordingPage::Status> reports = page.StatusesOf(c.Id);
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(page.Finals(c.Id), 1);
        EXPECT_EQ(reports.back().Code, c.Code);
        EXPECT_EQ(reports.back().FirmwareVersion, c.After);
        EXPECT_EQ(reports[reports.size() - 2].Stage, c.EndedAt);
        bool uploaded = false;
        for (const auto& r : reports) uploaded = uploaded || (r.Stage == stage::kUploadEnded);
        EXPECT_EQ(uploaded, c.EndedAt != stage::kEndedEarly);
    }
    // The upload waited the camera's UploadDelay: two seconds of countdown were shown
    // before the first upload report.
    const std::vector<RecordingPage::Status> digest = page.StatusesOf("DIGEST");
    int countdown = 0;
    for (const auto& r : digest) {
        if (r.Stage == stage::kUploading) break;
        countdown += r.Stage == stage::kRunning && r.Seconds > 0;
    }
    EXPECT_GE(countdown, 3);
    // The image went once to each camera that took it, without the store's header.
    EXPECT_NE(sim.NextLineWith("upload device=DIGEST path=/onvif/firmware/"), "");
}

TEST(OnvifWorkerTest, OutcomeFollowsTheWatch) {
    const struct {
        const char* Name;
        bool Away;
        const char* Answer;  // nullptr: no answer after
        int LastLook;
        int Code;
    } cases[] = {
        {"never away", false, "1.0.0", rc::kOk, rc::kNotSeenAgain},
        {"back new", true, "2.0.0", rc::kOk, rc::kOk},
        {"back old", true, "1.0.0", rc::kOk, rc::kOldFirmwareStill},
        {"back refusing", true, "", rc::kLoginRefused, rc::kLoginRefused},
        {"back mute", true, "", rc::kOk, rc::kFailed},
        {"new version at once", false, "2.0.0", rc::kOk, rc::kOk},
    };
    const UpgradeJob job;
    const FamilyTraits camera = OnvifFamily().Traits(job);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ReturnWatch watch("1.0.0");
        if (c.Away) watch.Unanswered();
        if (c.Answer) watch.Answered(c.Answer);
        EXPECT_EQ(ProvenOutcome(watch, camera, false, c.LastLook, rc::kOk), c.Code);
    }
}

TEST(OnvifWorkerTest, ServiceAddressesPutWhereTheCameraWasSeenFirst) {
    const std::vector<std::string> known = {"http://198.18.1.5:80/onvif/ds",
                                            "http://10.9.0.5:80/onvif/ds"};
    EXPECT_EQ(CameraServiceAddresses(known, "http", "198.18.1.5", 80), known);
    EXPECT_EQ(
        CameraServiceAddresses(known, "https", "198.18.1.9", 8443),
        (std::vector<std::string>{"https://198.18.1.9:8443/onvif/ds",
                                  "http://198.18.1.5:80/onvif/ds", "http://10.9.0.5:80/onvif/ds"}));
    EXPECT_EQ(CameraServiceAddresses({}, "http", "198.18.1.5", 80),
              (std::vector<std::string>{"http://198.18.1.5:80/onvif/device_service"}));
}

}  // namespace
