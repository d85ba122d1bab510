// The upload exchanges against simulated devices, and the devices' side of them: what
// they check, how they answer, and their restart into the new firmware.
#include <gtest/gtest.h>

#include <chrono>

#include "base/result_codes.h"
#include "base/text.h"
#include "families/maker/job_exchanges.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "upload_images.h"
#include "web/web_client.h"

namespace {

using namespace std::chrono_literals;

// The next line of devsim's output that contains `text`; empty when none comes in time.
std::string LineWith(DevsimProcess& sim, const std::string& text,
                     std::chrono::milliseconds timeout = 10s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left <= 0ms) return {};
        auto line = sim.Process().ReadLine(left);
        if (!line) return {};
        if (line->find(text) != std::string::npos) return *line;
    }
}

// The firmware version a device reports, or "" when it does not answer.
std::string VersionAt(const std::string& host, int port) {
    std::string text;
    std::string version;
    const std::string url =
        "http://" + host + ":" + std::to_string(port) + "/liveviewct?action=list&function=system";
    if (HttpGetText("admin", "vqmtz", url, 2000, text) != 0) return {};
    ValueAfterMarker(text, "nvr.system.product.firmware.version=", version);
    return version;
}

class DevsimUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    void Fill(UpgradeJob& job, const DevsimProcess::Device& device, const std::string& image,
              const std::string& password = "vqmtz", bool https = false) {
        job.DeviceId = device.Id;
        job.UserName = "admin";
        job.Password = password;
        job.ImageQueue = {dir_.File(image)};
        job.SetAddress(
            {https ? "https" : "http", "127.0.0.1", https ? device.HttpsPort : device.HttpPort});
    }

    TempDir dir_;
};

TEST_F(DevsimUpgradeTest, NvrTakesAStoredImageAndComesBackWithItsVersion) {
    DevsimProcess sim({"--device", "id=nvr,reboot_seconds=1"});
    const auto& device = sim.DeviceById("nvr");
    const std::string image = MarkedImage(300000, "2.0.1");
    dir_.Write("stored.bin", StoredImage(image));
    UpgradeJob job;
    Fill(job, device, "stored.bin");

    EXPECT_EQ(VerifyJobLogin(job), rc::kOk);
    ASSERT_EQ(UploadFrontImageCgiMain(job), rc::kOk);
    EXPECT_EQ(job.Result, rc::kOk);
    EXPECT_TRUE(job.ImageQueue.empty());
    EXPECT_EQ(job.ImageSize, 300000);
    EXPECT_EQ(job.BytesSent, 300000);

    const std::string upload = LineWith(sim, "upload device=nvr");
    EXPECT_NE(upload.find("content_length=300303 received=300303 image=300000 mark=QRBA "
                          "version=2.0.1 verdict=accepted"),
              std::string::npos)
        << upload;
    ASSERT_NE(LineWith(sim, "device id=nvr away"), "");
    EXPECT_EQ(VersionAt("127.0.0.1", device.HttpPort), "");  // away: nobody answers
    const std::string back = LineWith(sim, "device id=nvr back");
    EXPECT_NE(back.find("firmware=2.0.1"), std::string::npos) << back;
    EXPECT_EQ(VersionAt("127.0.0.1", device.HttpPort), "2.0.1");
}

// A device reached over HTTPS gets the same bytes of the raw upload inside TLS, and
// its log-in form inside TLS too.
TEST_F(DevsimUpgradeTest, NvrOverHttpsTakesTheRawUploadInsideTls) {
    DevsimProcess sim({"--device", "id=nvr,reboot_seconds=1"});
    dir_.Write("image.bin", MarkedImage(300000, "2.0.2"));
    UpgradeJob job;
    Fill(job, sim.DeviceById("nvr"), "image.bin", "vqmtz", true);
    EXPECT_EQ(VerifyJobLogin(job), rc::kOk);
    ASSERT_EQ(UploadFrontImageCgiMain(job), rc::kOk);
    EXPECT_EQ(job.BytesSent, 300000);
    const std::string upload = LineWith(sim, "upload device=nvr");
    EXPECT_NE(upload.find("content_length=300303 received=300303 image=300000 mark=QRBA "
                          "version=2.0.2 verdict=accepted"),
              std::string::npos)
        << upload;
    EXPECT_NE(LineWith(sim, "device id=nvr back"), "");
}

TEST_F(DevsimUpgradeTest, DeviceThatNeverReturnsOrReturnsElsewhere) {
    DevsimProcess sim(
        {"--device", "id=gone,reboot_seconds=0,fault=never_back",  //
         "--device", "id=moved,reboot_seconds=0,next_firmware=9.9,fault=reboot_address:127.0.0.2"});
    dir_.Write("image.bin", MarkedImage(5000));  // names no version
    UpgradeJob gone;
    Fill(gone, sim.DeviceById("gone"), "image.bin");
    UpgradeJob moved;
    Fill(moved, sim.DeviceById("moved"), "image.bin");
    ASSERT_EQ(UploadFrontImageCgiMain(gone), rc::kOk);
    ASSERT_EQ(UploadFrontImageCgiMain(moved), rc::kOk);

    const std::string back = LineWith(sim, "device id=moved back");
    EXPECT_NE(back.find("address=127.0.0.2"), std::string::npos) << back;
    EXPECT_EQ(VersionAt("127.0.0.2", sim.DeviceById("moved").HttpPort), "9.9");
    EXPECT_EQ(VersionAt("127.0.0.1", sim.DeviceById("moved").HttpPort), "");
    EXPECT_EQ(LineWith(sim, "device id=gone back", 1500ms), "");
    EXPECT_EQ(VersionAt("127.0.0.1", sim.DeviceById("gone").HttpPort), "");
}

// A device writes its flash for restart_delay_ms, answering all the while with its old
// version, before it restarts; the restart faults combine.
TEST_F(DevsimUpgradeTest, DeviceAnswersUntilItRestartsThenComesBackAsTheFaultsSay) {
    DevsimProcess sim({"--device",
                       "id=late,restart_delay_ms=1500,reboot_seconds=1,fault=reboot_old_version,"
                       "fault=reboot_address:127.0.0.3"});
    const auto& device = sim.DeviceById("late");
    dir_.Write("image.bin", MarkedImage(5000, "2.0.0"));
    UpgradeJob job;
    Fill(job, device, "image.bin");
    ASSERT_EQ(UploadFrontImageCgiMain(job), rc::kOk);
    ASSERT_NE(LineWith(sim, "device id=late restarting"), "");
    EXPECT_EQ(VersionAt("127.0.0.1", device.HttpPort), "1.0.0");
    ASSERT_NE(LineWith(sim, "device id=late away"), "");
    const std::string back = LineWith(sim, "device id=late back");
    EXPECT_NE(back.find("address=127.0.0.3"), std::string::npos) << back;
    EXPECT_NE(back.find("firmware=1.0.0"), std::string::npos) << back;
}

TEST_F(DevsimUpgradeTest, PlxModelIsPreparedAndTakesTheImageOnceOverHttps) {
    DevsimProcess sim({"--device", "id=plx,model=PLX-420S,reboot_seconds=1"});
    const auto& device = sim.DeviceById("plx");
    dir_.Write("plx_3.1.bin", StoredImage(MarkedImage(200000, "3.1")));

    UpgradeJob refused;
    Fill(refused, device, "plx_3.1.bin", "wrong", true);
    EXPECT_EQ(PrepareUpgrade(refused), rc::kHttpUnauthorized);
    EXPECT_EQ(UploadFrontImageFirmwareCgi(refused), rc::kHttpUnauthorized);
    EXPECT_NE(LineWith(sim, "verdict=refused"), "");

    UpgradeJob job;
    Fill(job, device, "plx_3.1.bin", "vqmtz", true);
    EXPECT_EQ(PrepareUpgrade(job), rc::kOk);
    EXPECT_NE(LineWith(sim, "prepare device=plx"), "");
    ASSERT_EQ(UploadFrontImageFirmwareCgi(job), rc::kOk);
    // One request carried the image: the next event after it is the restart.
    const std::string upload = LineWith(sim, "upload device=plx");
    EXPECT_NE(upload.find("path=/cgi-bin/admin/firmwareupgrade.cgi"), std::string::npos) << upload;
    EXPECT_NE(upload.find("image=200000 mark=QRBA version=3.1 verdict=accepted"), std::string::npos)
        << upload;
    EXPECT_EQ(LineWith(sim, "device id=plx"), "device id=plx restarting");
}

// A device that demands Digest refuses the Basic credentials sent with the image and
// takes it once its challenge is answered.
TEST_F(DevsimUpgradeTest, DigestOnlyPlxTakesTheUpload) {
    DevsimProcess sim({"--device", "id=plx,model=PLX-420S,auth=digest,reboot_seconds=1"});
    dir_.Write("plx.bin", MarkedImage(100000, "3.3"));
    for (bool https : {false, true}) {
        UpgradeJob job;
        Fill(job, sim.DeviceById("plx"), "plx.bin", "vqmtz", https);
        EXPECT_EQ(PrepareUpgrade(job), rc::kOk);
        ASSERT_EQ(UploadFrontImageFirmwareCgi(job), rc::kOk) << https;
        const std::string upload = LineWith(sim, "verdict=accepted");
        EXPECT_NE(upload.find("image=100000 mark=QRBA version=3.3"), std::string::npos) << upload;
        ASSERT_NE(LineWith(sim, "device id=plx back"), "");
    }
}

TEST_F(DevsimUpgradeTest, RefusalsAndBrokenUploads) {
    DevsimProcess sim(
        {"--device",
         "id=reject,fault=reject_image",  //
                                          // Early, so that the device's system cannot have taken
                                          // the rest into its buffers (that would count as taken).
         "--device", "id=drop,fault=drop_mid_upload:65536",  //
         "--device", "id=stall,fault=stall_mid_upload",      //
         "--device", "id=slow,fault=slow_upload:4000000",    //
         "--device", "id=plain"});
    dir_.Write("image.bin", MarkedImage(4 << 20));
    // Halfway through this one is more than loopback's socket buffers hold, so a device
    // that stops reading there leaves bytes unsent rather than taken.
    dir_.Write("large.bin", MarkedImage(32 << 20));
    dir_.Write("unmarked.bin", "JUNK" + PatternBytes(1000));
    UpgradeJob job;

    Fill(job, sim.DeviceById("reject"), "image.bin");
    EXPECT_EQ(UploadFrontImageCgiMain(job), rc::kImageRejected);
    Fill(job, sim.DeviceById("reject"), "image.bin");
    EXPECT_EQ(UploadFrontImageFirmwareCgi(job), rc::kImageRejected);
    Fill(job, sim.DeviceById("reject"), "image.bin", "wrong");
    EXPECT_EQ(UploadFrontImageCgiMain(job), rc::kHttpUnauthorized);
    EXPECT_EQ(VerifyJobLogin(job), rc::kLoginRefused);

    Fill(job, sim.DeviceById("drop"), "image.bin");
    EXPECT_EQ(UploadFrontImageCgiMain(job), rc::kFailed);
    EXPECT_NE(LineWith(sim, "verdict=dropped"), "");

    Fill(job, sim.DeviceById("stall"), "large.bin");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(UploadFrontImageCgiMain(job, {.Stall = 300ms, .Answer = 1000ms}), rc::kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // A device that reads slowly but steadily is waited for, however long it takes.
    Fill(job, sim.DeviceById("slow"), "image.bin");
    EXPECT_EQ(UploadFrontImageCgiMain(job, {.Stall = 300ms, .Answer = 5000ms}), rc::kOk);
    EXPECT_NE(LineWith(sim, "device=slow"), "");

    // A device answers an image without a mark as a rejected one.
    Fill(job, sim.DeviceById("plain"), "unmarked.bin");
    EXPECT_EQ(UploadFrontImageCgiMain(job), rc::kImageRejected);
    EXPECT_NE(LineWith(sim, "mark=JUNK version=- verdict=rejected"), "");
}

TEST_F(DevsimUpgradeTest, MalformedUploadsAreAnswered400) {
    DevsimProcess sim({"--device", "id=nvr"});
    const int port = sim.DeviceById("nvr").HttpPort;
    const std::string body =
        "--XYZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"E\"\r\n\r\nQRBA1234"
        "\r\n--XYZ\r\nContent-Disposition: form-data; name=\"cgiName\"\r\n\r\nupgrade.cgi"
        "\r\n--XYZ--\r\n";
    const auto request = [&](const std::string& boundary, size_t length, const std::string& text) {
        return "POST /cgi-bin/cgi_main.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n"
               "Authorization: Basic YWRtaW46dnFtdHo=\r\n"
               "Content-Type: multipart/form-data; boundary=" +
               boundary + "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" + text;
    };
    // The well-formed request is taken, so it goes last.
    EXPECT_EQ(StatusLine(port, request("XYZ", body.size() - 10, body)), "HTTP/1.1 400 Bad Request");
    EXPECT_NE(LineWith(sim, "verdict=malformed"), "");
    EXPECT_EQ(StatusLine(port, request("ABC", body.size(), body)), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(StatusLine(port, request("XYZ", body.size() + 2, body + "xx")),
              "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(StatusLine(port, request("XYZ", body.size(), body)), "HTTP/1.1 200 OK");
    EXPECT_NE(LineWith(sim, "image=8 mark=QRBA version=- verdict=accepted"), "");
}

}  // namespace
