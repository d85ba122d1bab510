// The firmwareupgrade form upload of the "PLX-420S" models, on the wire.
#include "families/maker/firmware_cgi_upload.h"

#include <gtest/gtest.h>

#include <map>

#include "base/result_codes.h"
#include "base/text.h"
#include "capture_server.h"
#include "support/temp_dir.h"
#include "upload_images.h"

namespace {

struct Captured {
    std::string Head;
    std::string Body;
};

Captured Split(const std::string& request) {
    const size_t end = request.find("\r\n\r\n");
    if (end == std::string::npos) return {request, {}};
    return {request.substr(0, end + 2), request.substr(end + 4)};
}

std::string Part(const std::string& name, const std::string& content) {
    return "--AsCg5y\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + name +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--AsCg5y--\r\n";
}

class FirmwareCgiUploadTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    int Upload(int port, const std::string& file, std::string& answer) {
        return UploadFirmwareCgi("admin", "vqmtz",
                                 FirmwareUpgradeUrl("http", "127.0.0.1", port, file),
                                 dir_.File(file), file, answer);
    }

    TempDir dir_;
};

TEST_F(FirmwareCgiUploadTest, SendsTheImageFromItsFifthByteOnceWithCredentials) {
    const std::string image = StoredImage(MarkedImage(70000, "3.1.0"));
    dir_.Write("fw 1.bin", image);
    CaptureServer device({});
    std::string answer;
    ASSERT_EQ(Upload(device.Port(), "fw 1.bin", answer), rc::kOk);
    EXPECT_EQ(answer, "OK");

    // One request, the image in it once: the credentials did not wait for a challenge.
    const Captured c = Split(device.Received());
    EXPECT_TRUE(StartsWith(c.Head,
                           "POST /cgi-bin/admin/firmwareupgrade.cgi?filename=fw%201.bin "
                           "HTTP/1.1\r\n"))
        << c.Head;
    EXPECT_NE(c.Head.find("\r\nAuthorization: Basic YWRtaW46dnFtdHo=\r\n"), std::string::npos);
    EXPECT_NE(c.Head.find("\r\nContent-Type: multipart/form-data; boundary=AsCg5y\r\n"),
              std::string::npos);
    EXPECT_EQ(c.Head.find("Expect:"), std::string::npos);
    EXPECT_EQ(c.Body, Part("fw 1.bin", image.substr(4)));
    EXPECT_NE(c.Head.find("\r\nContent-Length: " + std::to_string(c.Body.size()) + "\r\n"),
              std::string::npos);
}

// Only an image of the firmware store loses its first four bytes (its size header); a
// hand-picked image starts with its mark and goes whole.
TEST_F(FirmwareCgiUploadTest, OnlyAStoredImageGoesWithoutItsFirstFourBytes) {
    const std::map<std::string, std::pair<std::string, std::string>> files = {
        {"picked.bin", {MarkedImage(9000, "3.2"), MarkedImage(9000, "3.2")}},
        {"mark.bin", {"QRBA", "QRBA"}},
        {"empty-stored.bin", {SizeHeader(0), ""}},
    };
    for (const auto& [name, contents] : files) {
        dir_.Write(name, contents.first);
        CaptureServer device({});
        std::string answer;
        ASSERT_EQ(Upload(device.Port(), name, answer), rc::kOk) << name;
        EXPECT_EQ(Split(device.Received()).Body, Part(name, contents.second)) << name;
    }
}

TEST_F(FirmwareCgiUploadTest, ResultCodes) {
    dir_.Write("image.bin", StoredImage(MarkedImage(5000)));
    const auto answered = [&](const std::string& text) {
        CaptureServer device({.Answer = text});
        std::string answer;
        return Upload(device.Port(), "image.bin", answer);
    };
    EXPECT_EQ(
        answered("HTTP/1.1 200 OK\r\nContent-Length: 31\r\n\r\ngo to cfg_system_upgradeError\r\n"),
        rc::kImageRejected);
    EXPECT_EQ(answered("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"),
              rc::kHttpUnauthorized);
    EXPECT_EQ(answered("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), rc::kHttpNotFound);
    // Only a 200 is read for the marker.
    EXPECT_EQ(answered("HTTP/1.1 500 Oops\r\nContent-Length: 23\r\n\r\ncfg_system_upgradeError"),
              rc::kFailed);
    std::string answer;
    EXPECT_EQ(Upload(ClosedPort(), "image.bin", answer), rc::kCannotConnect);
    EXPECT_EQ(Upload(ClosedPort(), "missing.bin", answer), rc::kFailed);
}

TEST(ImageFileNameTest, LastComponentAfterEitherSeparator) {
    EXPECT_EQ(ImageFileName("image.bin"), "image.bin");
    EXPECT_EQ(ImageFileName("/home/tech/fw/NVR_2.1.bin"), "NVR_2.1.bin");
    EXPECT_EQ(ImageFileName("C:\\Firmware\\PLX\\cam.img"), "cam.img");
    EXPECT_EQ(ImageFileName("/mnt/share\\mixed/last\\x.bin"), "x.bin");
    EXPECT_EQ(ImageFileName("/trailing/"), "");
    EXPECT_EQ(FirmwareUpgradeUrl("https", "10.0.0.5", 8443, "a&b=c d.bin"),
              "https://10.0.0.5:8443/cgi-bin/admin/firmwareupgrade.cgi?filename=a%26b%3Dc%20d.bin");
}

}  // namespace
