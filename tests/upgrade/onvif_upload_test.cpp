// The ONVIF upload against a scripted camera on 127.0.0.1: the image goes whole and
// without credentials first, and after its last byte only an answer judges it.
#include <gtest/gtest.h>

#include <atomic>

#include "base/result_codes.h"
#include "capture_server.h"
#include "families/onvif/onvif_upload.h"
#include "support/temp_dir.h"
#include "upload_images.h"

namespace {

using End = CaptureServer::Options::End;

std::string BodyOf(const std::string& request) {
    const size_t head = request.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : request.substr(head + 4);
}

TEST(OnvifUploadTest, AfterTheLastByteOnlyAnAnswerJudges) {
    TempDir dir;
    const std::string image = MarkedImage(1000, "2.0.0");
    dir.Write("image.bin", StoredImage(image));
    dir.Write("big.bin", MarkedImage(8 << 20));
    const struct {
        const char* Name;
        CaptureServer::Options Options;
        const char* File;
        int Code;
    } cases[] = {
        {"answered", {}, "image.bin", rc::kOk},
        {"refused file",
         {.Answer = "HTTP/1.1 415 Unsupported Media Type\r\nContent-Length: 0\r\n\r\n"},
         "image.bin",
         rc::kImageRejected},
        {"login without Digest",
         {.Answer = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"c\"\r\n"
                    "Content-Length: 0\r\n\r\n"},
         "image.bin",
         rc::kLoginRefused},
        // A camera that restarts at once, however its connection ends.
        {"closed without a word", {.Answer = ""}, "image.bin", rc::kOk},
        {"reset after the last byte", {.AtEnd = End::Reset}, "image.bin", rc::kOk},
        {"silent after the last byte", {.AtEnd = End::Silence}, "image.bin", rc::kOk},
        {"reset before the last byte",
         {.ReceiveBuffer = 4096, .ResetAfter = 64 * 1024},
         "big.bin",
         rc::kFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CaptureServer camera(c.Options);
        std::atomic<int64_t> size{0};
        std::atomic<int64_t> sent{0};
        const std::string uri =
            "http://127.0.0.1:" + std::to_string(camera.Port()) + "/onvif/firmware/1";
        EXPECT_EQ(UploadOnvifImage(uri, dir.File(c.File), "admin", "vqmtz", 500, size, sent, {}),
                  c.Code);
        if (c.Code == rc::kFailed) {
            EXPECT_LT(sent, 8 << 20);
            continue;
        }
        // One request, without credentials, carrying the image without the store's header.
        const std::string received = camera.Received();
        EXPECT_EQ(received.find("Authorization:"), std::string::npos);
        EXPECT_NE(received.find("\r\nContent-Length: 1000\r\n"), std::string::npos);
        EXPECT_EQ(BodyOf(received), image);
        EXPECT_EQ(size, 1000);
        EXPECT_EQ(sent, 1000);
    }
}

}  // namespace
