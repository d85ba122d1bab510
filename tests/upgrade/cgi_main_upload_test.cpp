// The raw-socket form upload, checked byte for byte against a listening socket.
#include "families/maker/cgi_main_upload.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "base/result_codes.h"
#include "capture_server.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "upload_images.h"

namespace {

using namespace std::chrono_literals;

// What the device must receive for an image of `image` bytes, to the last byte.
std::string ExpectedUpload(const std::string& image) {
    const std::string partHead =
        "-----------------------------7dd232271207a8\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"E\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n";
    const std::string closing =
        "\r\n-----------------------------7dd232271207a8\r\n"
        "Content-Disposition: form-data; name=\"cgiName\"\r\n\r\n"
        "upgrade.cgi\r\n-----------------------------7dd232271207a8--\r\n";
    EXPECT_EQ(closing.size(), 157u);
    return "POST /cgi-bin/cgi_main.cgi HTTP/1.1\r\n"
           "Accept: */*\r\n"
           "Referer: http://127.0.0.1/cfg_system_upgrade.htm\r\n"
           "Accept-Language: zh-tw\r\n"
           "User-Agent: QuorvantCFG\r\n"
           "Content-Type: multipart/form-data; "
           "boundary=---------------------------7dd232271207a8\r\n"
           "Accept-Encoding: gzip, deflate\r\n"
           "Host: 127.0.0.1\r\n"
           "Content-Length: " +
           std::to_string(partHead.size() + image.size() + closing.size()) +
           "\r\n"
           "Connection: Keep-Alive\r\n"
           "Cache-Control: no-cache\r\n"
           "Authorization: Basic YWRtaW46dnFtdHo=\r\n\r\n" +
           partHead + image + closing;
}

std::string Url(int port, bool tls = false) {
    return (tls ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port) +
           "/cgi-bin/cgi_main.cgi";
}

class CgiMainUploadTest : public ::testing::Test {
protected:
    int Upload(int port, const std::string& file, const CgiMainLimits& limits = {},
               bool tls = false) {
        return UploadCgiMain("admin", "vqmtz", Url(port, tls), dir_.File(file), size_, sent_,
                             limits);
    }

    TempDir dir_;
    std::atomic<int64_t> size_{-1};
    std::atomic<int64_t> sent_{-1};
};

TEST_F(CgiMainUploadTest, SendsTheFormByteForByte) {
    // Sizes around the 2048-byte block: one byte, exactly one block, a partial last block.
    for (size_t size : {size_t{1}, size_t{2048}, size_t{5000}}) {
        const std::string image = MarkedImage(size);
        dir_.Write("image.bin", image);
        CaptureServer device({});
        EXPECT_EQ(Upload(device.Port(), "image.bin"), rc::kOk) << size;
        EXPECT_EQ(device.Received(), ExpectedUpload(image)) << size;
        EXPECT_EQ(size_, static_cast<int64_t>(size));
        EXPECT_EQ(sent_, static_cast<int64_t>(size));
    }
}

TEST_F(CgiMainUploadTest, StoredImageGoesWithoutItsSizeHeader) {
    const std::string image = MarkedImage(3000, "2.0.1");
    dir_.Write("stored.bin", StoredImage(image));
    CaptureServer device({});
    ASSERT_EQ(Upload(device.Port(), "stored.bin"), rc::kOk);
    EXPECT_EQ(device.Received(), ExpectedUpload(image));
    EXPECT_EQ(size_, 3000);
    EXPECT_EQ(sent_, 3000);

    // Four leading bytes that do not hold the size of the rest are image bytes.
    const std::string lookalike = SizeHeader(2999) + image;
    dir_.Write("lookalike.bin", lookalike);
    CaptureServer other({});
    ASSERT_EQ(Upload(other.Port(), "lookalike.bin"), rc::kOk);
    EXPECT_EQ(other.Received(), ExpectedUpload(lookalike));
}

TEST_F(CgiMainUploadTest, ReadOnlyImageIsSent) {
    const std::string image = MarkedImage(4000);
    dir_.Write("image.bin", image);
    ASSERT_EQ(::chmod(dir_.File("image.bin").c_str(), 0444), 0);
    CaptureServer device({});
    if (::geteuid() != 0) {
        EXPECT_EQ(Upload(device.Port(), "image.bin"), rc::kOk);
    } else {
        // Root may open any file for writing; an ordinary user may not open this one.
        ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(100);
            ::_exit(-Upload(device.Port(), "image.bin"));
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(device.Received(), ExpectedUpload(image));
}

TEST_F(CgiMainUploadTest, ResultCodes) {
    dir_.Write("image.bin", MarkedImage(1000));
    EXPECT_EQ(Upload(ClosedPort(), "missing.bin"), rc::kFileOpenFailed);
    EXPECT_EQ(UploadCgiMain("admin", "vqmtz", Url(ClosedPort()), dir_.Path(), size_, sent_),
              rc::kFileOpenFailed);
    EXPECT_EQ(Upload(ClosedPort(), "image.bin"), rc::kCannotConnect);
    EXPECT_EQ(size_, 1000);  // known before the connection is tried
    EXPECT_EQ(UploadCgiMain("admin", "vqmtz", "http://127.0.0.1:notaport/", dir_.File("image.bin"),
                            size_, sent_),
              rc::kCannotConnect);

    const auto answered = [&](const std::string& answer) {
        CaptureServer device({.Answer = answer});
        return Upload(device.Port(), "image.bin");
    };
    EXPECT_EQ(answered("HTTP/1.1 200 OK\r\nContent-Length: 47\r\n\r\n"
                       "<meta url=/cfg_system_upgradeError.htm></html>"),
              rc::kImageRejected);
    EXPECT_EQ(answered("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"),
              rc::kHttpUnauthorized);
    EXPECT_EQ(answered("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), rc::kHttpNotFound);
    EXPECT_EQ(answered("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"),
              rc::kFailed);
    // A device that restarts without answering has taken the image.
    EXPECT_EQ(answered(""), rc::kOk);
}

// A device may restart the moment it holds the whole image, without a word: a reset or
// silence then leaves the verdict to its return. Before it took every byte, a reset is a
// failed upload.
TEST_F(CgiMainUploadTest, AfterTheLastByteOnlyAnAnswerJudges) {
    using End = CaptureServer::Options::End;
    dir_.Write("image.bin", MarkedImage(1000));
    dir_.Write("big.bin", MarkedImage(8 << 20));
    const CgiMainLimits limits{.Connect = 2000ms, .Stall = 2000ms, .Answer = 300ms};
    for (End end : {End::Reset, End::Silence}) {
        CaptureServer device({.AtEnd = end});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Upload(device.Port(), "image.bin", limits), rc::kOk);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_EQ(device.Received(), ExpectedUpload(MarkedImage(1000)));
    }
    CaptureServer dropping({.ReceiveBuffer = 4096, .ResetAfter = 64 * 1024});
    EXPECT_EQ(Upload(dropping.Port(), "big.bin", limits), rc::kFailed);
    EXPECT_LT(sent_, 8 << 20);
}

TEST_F(CgiMainUploadTest, ImageOverTwoGibibytesAnnouncesItsWholeLength) {
    const int64_t size = 3LL << 30;
    dir_.Write("huge.bin", "QRBA");
    ASSERT_EQ(::truncate(dir_.File("huge.bin").c_str(), size), 0);  // sparse: no disk used
    CaptureServer device({.PauseAfter = 4096});
    EXPECT_EQ(Upload(device.Port(), "huge.bin", {.Stall = 200ms}), rc::kTimeout);
    EXPECT_EQ(size_, size);
    EXPECT_NE(device.Received().find("\r\nContent-Length: 3221225775\r\n"), std::string::npos);
}

TEST_F(CgiMainUploadTest, AnswerInTwoPiecesIsReadWhole) {
    dir_.Write("image.bin", MarkedImage(1000));
    const std::string body(1500, 'x');
    CaptureServer device({.Answer = "HTTP/1.1 200 OK\r\nContent-Length: 1523\r\n\r\n" + body +
                                    "cfg_system_upgradeError",
                          .AnswerInTwoPieces = true});
    EXPECT_EQ(Upload(device.Port(), "image.bin"), rc::kImageRejected);
}

TEST_F(CgiMainUploadTest, StallEndsTheUploadButASlowDeviceIsWaitedFor) {
    const std::string image = MarkedImage(400 * 1024);
    dir_.Write("image.bin", image);
    const CgiMainLimits limits{.Connect = 2000ms, .Stall = 400ms, .Answer = 2000ms};

    // With a small receive window the device's kernel cannot take the rest of the image
    // in its stead (a grown window took all of it on a slow build, and the silent device
    // then counted as one that had taken the image).
    CaptureServer stalled({.ReceiveBuffer = 4096, .PauseAfter = 100 * 1024});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Upload(stalled.Port(), "image.bin", limits), rc::kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    // A small receive window read 2 KiB at a time: the upload crawls but never stops.
    CaptureServer slow({.ReceiveBuffer = 4096, .ReadBytes = 2048, .ReadPause = 10ms});
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(Upload(slow.Port(), "image.bin", limits), rc::kOk);
    EXPECT_GT(std::chrono::steady_clock::now() - start, 4 * limits.Stall);
    EXPECT_EQ(slow.Received(), ExpectedUpload(image));
}

// The image is read and written in pieces of a quarter MiB; inside TLS each piece is cut
// into records, and a write the connection takes in part goes on where it stopped.
TEST_F(CgiMainUploadTest, EveryByteInPlaceAcrossPiecesPlainAndInsideTls) {
    constexpr size_t kPiece = 256 * 1024;
    for (bool tls : {false, true}) {
        for (size_t size : {kPiece - 1, kPiece, kPiece + 1, 3 * kPiece + 4099}) {
            const std::string image = MarkedImage(size);
            dir_.Write("image.bin", image);
            CaptureServer device({.Tls = tls});
            EXPECT_EQ(Upload(device.Port(), "image.bin", {}, tls), rc::kOk) << tls << size;
            // Not EXPECT_EQ: a mismatch of a MiB would flood the log.
            EXPECT_TRUE(device.Received() == ExpectedUpload(image)) << tls << " " << size;
            EXPECT_EQ(sent_, static_cast<int64_t>(size));
        }
    }
}

// Progress counts the bytes the connection has taken, as they leave: against a device
// that reads slowly it climbs through values between 0 and the image size, never back.
TEST_F(CgiMainUploadTest, ProgressClimbsAsTheDeviceTakesTheImage) {
    // Larger than any send buffer the kernel gives a loopback connection (4 MiB).
    const int64_t size = 8 << 20;
    dir_.Write("image.bin", MarkedImage(static_cast<size_t>(size)));
    for (bool tls : {false, true}) {
        CaptureServer slow({.ReceiveBuffer = 4096, .Tls = tls});
        sent_ = 0;
        std::atomic<bool> done{false};
        std::vector<int64_t> seen;
        std::thread watcher([&] {
            while (!done) {
                if (const int64_t now = sent_; seen.empty() || now != seen.back()) {
                    seen.push_back(now);
                }
                std::this_thread::sleep_for(200us);
            }
        });
        EXPECT_EQ(Upload(slow.Port(), "image.bin", {}, tls), rc::kOk);
        done = true;
        watcher.join();
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << tls;
        EXPECT_GE(
            std::count_if(seen.begin(), seen.end(), [&](int64_t v) { return v > 0 && v < size; }),
            3)
            << tls;
        EXPECT_EQ(sent_, size);
    }
}

// The size is taken once, before the request head announces it: a file that grows while
// it goes out is cut at that size, one that shrinks leaves the image short (-1) and the
// form is never closed.
TEST_F(CgiMainUploadTest, FileThatChangesWhileItGoesOut) {
    const std::string image = MarkedImage((4 << 20) + 12345);  // ends inside a read piece
    for (bool grows : {true, false}) {
        dir_.Write("image.bin", image);
        // The device stops reading early for a while, so the file changes mid-upload.
        CaptureServer device({.ReceiveBuffer = 4096, .PauseAfter = 64 * 1024, .PauseFor = 500ms});
        auto result = std::async(std::launch::async, [&] {
            return Upload(device.Port(), "image.bin", {.Stall = 5000ms, .Answer = 500ms});
        });
        EXPECT_TRUE(WaitUntil([&] { return device.Received().size() >= 64 * 1024; }));
        if (grows) {
            std::ofstream(dir_.File("image.bin"), std::ios::app) << PatternBytes(100000, 'g');
        } else {
            std::filesystem::resize_file(dir_.File("image.bin"), 100000);
        }
        EXPECT_EQ(result.get(), grows ? rc::kOk : rc::kFailed) << grows;
        const std::string received = device.Received();
        if (grows) {
            EXPECT_TRUE(received == ExpectedUpload(image));
        } else {
            EXPECT_EQ(received.find("-----------------------------7dd232271207a8--"),
                      std::string::npos);
            EXPECT_LT(sent_, static_cast<int64_t>(image.size()));
        }
    }
}

}  // namespace
