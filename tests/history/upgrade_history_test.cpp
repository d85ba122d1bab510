// What the upgrade history records of each final outcome, for the command's runs and
// for the schedule's.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "history/history_file.h"
#include "history/upgrade_history.h"
#include "registry/camera_control.h"
#include "schedule/scheduled_run_record.h"
#include "support/temp_dir.h"
#include "upgrade/upgrade_manager.h"

namespace {

CIPCamInfo Device(const std::string& id) {
    CIPCamInfo r;
    r.DeviceId = id;
    r.DeviceName = "Cam " + id;
    r.ModelName = "KT-710R";
    r.HostAddress = "198.18.1.3";
    r.HttpPort = 8080;
    r.FirmwareVersion = "2.0.4";
    r.MacAddress = "00:1C:A1:00:00:0" + id;
    return r;
}

TEST(UpgradeHistoryTest, RecordsEachFinalOutcomeOnceWithTheDeviceAsItWas) {
    TempDir dir;
    dir.Write("kt-2.1.0.bin", "QRBAversion=2.1.0\n");
    CCameraTable table;
    for (const char* id : {"A", "B", "C"}) table.AddOrUpdate(id, Device(id));
    table.Modify("A",
                 [&](CIPCamInfo& r) { r.SetLatestFirmware(dir.File("kt-2.1.0.bin"), "2.1.0"); });
    CUpgradeHistory history(table, dir.File("history.tsv"), [] { return int64_t{1796793494}; });

    for (const char* id : {"A", "B", "C"}) history.DeviceDispatched(*table.Find(id));
    // A: upgraded; it came back under another address. B: nothing newer. C: refused image.
    history.DeviceStatus("A", stage::kUploading, 0, 50, 0);
    table.AddOrUpdate("A", [] {
        CIPCamInfo back = Device("A");
        back.HostAddress = "198.18.1.33";
        return back;
    }());
    history.DeviceStatus("A", stage::kFinished, 0, 100, 0);
    history.DeviceStatus("B", stage::kFinished, 0, 100, rc::kNoNewerImage);
    history.DeviceStatus("C", stage::kEndedEarly, 0, 100, rc::kImageRejected);
    history.DeviceStatus("C", stage::kFinished, 0, 100, rc::kImageRejected);
    history.DeviceStatus("C", stage::kFinished, 0, 100, rc::kImageRejected);  // a stray second

    const auto records = ReadHistory(dir.File("history.tsv"));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].DeviceName, "Cam A");
    EXPECT_EQ(records[0].Model, "KT-710R");
    EXPECT_EQ(records[0].Mac, "00:1C:A1:00:00:0A");
    EXPECT_EQ(records[0].Address, "198.18.1.33:8080");
    EXPECT_EQ(records[0].VersionBefore, "2.0.4");
    EXPECT_EQ(records[0].VersionAfter, "") << "not read from the device: not guessed";
    EXPECT_EQ(records[0].ImageFile, "kt-2.1.0.bin");
    EXPECT_EQ(records[0].ImageMd5, "7626a2e8be48e66f5bfffc9487988373");
    EXPECT_EQ(records[0].Time, 1796793494);
    EXPECT_EQ(records[1].VersionAfter, "2.0.4") << "an untouched device keeps its version";
    EXPECT_EQ(records[1].ImageFile, "");
    EXPECT_EQ(records[1].ResultText, "The latest firmware");
    EXPECT_EQ(records[2].Code, rc::kImageRejected);
    EXPECT_EQ(records[2].VersionBefore, "2.0.4");
    // A final report without a dispatch still names the device.
    EXPECT_EQ(records[3].DeviceId, "C");
    EXPECT_EQ(records[3].VersionBefore, "");
}

TEST(UpgradeHistoryTest, AnOnvifCameraIsRecordedWithItsOwnImage) {
    TempDir dir;
    dir.Write("nvr.bin", "QRBAversion=2.1.0\n");
    dir.Write("ipc.bin", "IPCMversion=3.2.0\n");
    CCameraTable table;
    CCameraControl control(table, nullptr);
    control.SetManualImage(dir.File("nvr.bin"));
    control.SetCameraImage(dir.File("ipc.bin"));
    for (const char* id : {"A", "urn:uuid:cam", "urn:uuid:none"}) {
        CIPCamInfo device = Device(id);
        if (id[0] == 'u') {
            device.Protocol = DeviceProtocol::Onvif;
            device.ModelName = "Acme IPC-5";
            device.MacAddress = "00:1A:2B:00:00:05";
        }
        table.AddOrUpdate(id, device);
    }
    const Clock clock;
    CUpgradeManager manager(clock);
    CUpgradeHistory history(table, dir.File("history.tsv"), [] { return int64_t{1796793494}; });
    history.SetDispatchImages(control);
    control.Attach(history);
    manager.AddObserver(history);
    for (const char* id : {"A", "urn:uuid:cam", "urn:uuid:none"}) {
        history.DeviceDispatched(*table.Find(id));
    }
    history.DeviceStatus("A", stage::kFinished, 0, 100, 0);
    history.DeviceFinished({"urn:uuid:cam", stage::kFinished, 0, 100, 0, "3.2.0"});
    // No image for a camera: none is named.
    control.ClearCameraImage();
    history.DeviceStatus("urn:uuid:none", stage::kFinished, 0, 100, rc::kNoCameraImage);

    const auto records = ReadHistory(dir.File("history.tsv"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].ImageFile, "nvr.bin");
    EXPECT_EQ(records[1].DeviceId, "urn:uuid:cam");
    EXPECT_EQ(records[1].Model, "Acme IPC-5");
    EXPECT_EQ(records[1].Mac, "00:1A:2B:00:00:05");
    EXPECT_EQ(records[1].ImageFile, "ipc.bin");
    EXPECT_EQ(records[1].VersionAfter, "3.2.0");
    EXPECT_EQ(records[2].ImageFile, "");
    EXPECT_EQ(records[2].ResultText, "No firmware file chosen for this camera.");
}

// A device that ended as not seen again and came back later gets a second record that
// older readers take as one more outcome and the report shows in place of the failure;
// a device not started got no image.
TEST(UpgradeHistoryTest, LateReturnAmendsTheFailureAndNotStartedDevicesNameNoImage) {
    TempDir dir;
    dir.Write("kt.bin", "QRBAversion=2.1.0\n");
    CCameraTable table;
    for (const char* id : {"A", "B"}) {
        table.AddOrUpdate(id, Device(id));
        table.Modify(id, [&](CIPCamInfo& r) { r.SetLatestFirmware(dir.File("kt.bin"), "2.1.0"); });
    }
    int64_t now = 1796793494;
    CUpgradeHistory history(table, dir.File("history.tsv"), [&] { return now; });
    for (const char* id : {"A", "B"}) history.DeviceDispatched(*table.Find(id));
    history.DeviceFinished({"A", stage::kFinished, 0, 100, rc::kNotSeenAgain, {}});
    history.DeviceFinished({"B", stage::kFinished, 0, 100, rc::kPastWindow, {}, 1796800000});
    now += 600;
    history.DeviceFinished({"A", stage::kFinished, 0, 100, rc::kReturnedLate, "2.1.0"});

    const auto records = ReadHistory(dir.File("history.tsv"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Code, rc::kNotSeenAgain);
    EXPECT_EQ(records[1].ImageFile, "") << "not started: no image";
    EXPECT_NE(records[1].ResultText.find("Not started: it would not finish before "),
              std::string::npos)
        << records[1].ResultText;
    const UpgradeHistoryRecord& late = records[2];
    EXPECT_EQ(late.Code, rc::kReturnedLate);
    EXPECT_EQ(late.ResultText, "Firmware upgrade successful (returned late).");
    EXPECT_EQ(late.Time, 1796793494 + 600);
    EXPECT_EQ(late.DeviceName, "Cam A");
    EXPECT_EQ(late.VersionBefore, "2.0.4");
    EXPECT_EQ(late.VersionAfter, "2.1.0");
    EXPECT_EQ(late.ImageFile, "kt.bin");
    EXPECT_EQ(late.ImageMd5, records[0].ImageMd5);

    const auto shown = AmendLateReturns(records);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], late) << "in the failure's place";
    EXPECT_EQ(shown[1].DeviceId, "B");
}

TEST(UpgradeHistoryTest, ScheduledRunsCountOnlyWhenTheyEnded) {
    TempDir dir;
    dir.Write("image.bin", "QRBA");
    CScheduleInfo entry;
    entry.IP = "198.18.1.9";
    entry.Port = "80";
    entry.Device = "Dock";
    entry.Model = "PLX-420S";
    entry.MAC = "00:1A:2B:3C:4D:5E";
    // After a successful run Version holds the version after; the run noted both.
    entry.Version = "1.1";
    entry.VersionBefore = "1.0";
    entry.VersionAfter = "1.1";
    entry.FWPath = dir.File("image.bin");
    namespace st = schedule_status;
    struct Case {
        int Status;
        int UploadResult;
        std::optional<int> Code;
    };
    const Case cases[] = {
        {st::kSuccessful, 0, rc::kOk},
        {st::kLoginFailed, 0, rc::kLoginRefused},
        {st::kImageFailed, 0, rc::kImageRejected},
        {st::kOtherFailed, rc::kTimeout, rc::kTimeout},
        {st::kOtherFailed, 0, rc::kFailed},  // another device at the address
        {st::kQueued, 0, std::nullopt},      // stopped before it began: runs again
        {st::kUpgrading, 0, std::nullopt},   // stopped while the device restarted
        {st::kPastWindow, 0, rc::kPastWindow},
    };
    for (const Case& c : cases) {
        entry.Status = c.Status;
        entry.UploadResult = c.UploadResult;
        std::optional<UpgradeHistoryRecord> r = ScheduledRunRecord(entry, 42);
        ASSERT_EQ(r.has_value(), c.Code.has_value()) << c.Status;
        if (!r) continue;
        EXPECT_EQ(r->Code, *c.Code) << c.Status;
        EXPECT_EQ(r->Mac, "00:1A:2B:3C:4D:5E");
        EXPECT_EQ(r->Address, "198.18.1.9:80");
        EXPECT_EQ(r->VersionBefore, "1.0");
        if (c.Status == st::kSuccessful) {
            EXPECT_EQ(r->VersionAfter, "1.1");
        }
        const bool started = c.Status != st::kPastWindow;
        EXPECT_EQ(r->ImageFile, started ? "image.bin" : "") << c.Status;
        EXPECT_EQ(r->ImageMd5.size(), started ? 32u : 0u) << c.Status;
        EXPECT_FALSE(r->ResultText.empty());
    }
}

TEST(UpgradeHistoryTest, AnOutcomeThatCannotBeKeptIsToldWithTheFileAndTheReason) {
    TempDir dir;
    dir.Write("state", "a file where the history's folder should be");
    ASSERT_EQ(::mkfifo(dir.File("fifo.tsv").c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {dir.File("state/strelvane/history.tsv"), std::strerror(ENOTDIR)},
        {dir.File("fifo.tsv"), "not a regular file"},  // would fill, then block the writer
    };
    CCameraTable table;
    table.AddOrUpdate("A", Device("A"));
    for (const auto& [path, reason] : cases) {
        std::vector<std::pair<std::string, std::string>> told;
        CUpgradeHistory history(table, path, [] { return int64_t{1796793494}; });
        history.SetProblemHandler(
            [&](const std::string& file, const std::string& why) { told.emplace_back(file, why); });
        history.DeviceDispatched(*table.Find("A"));
        history.DeviceStatus("A", stage::kFinished, 0, 100, 0);
        ASSERT_EQ(told.size(), 1u) << path;
        EXPECT_EQ(told[0], std::make_pair(path, reason));
        // The report says so as well, rather than show an empty history.
        std::string problem;
        EXPECT_TRUE(ReadHistory(path, nullptr, &problem).empty());
        EXPECT_EQ(problem, reason) << path;
    }
    EXPECT_EQ(HistoryProblemText(2, "/h.tsv", "No space left on device"),
              "2 outcomes could not be recorded in the history /h.tsv: No space left on device");
}

}  // namespace
