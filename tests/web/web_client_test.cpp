// The request operations against simulated devices and a simulated firmware server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/result_codes.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "web/http_base.h"
#include "web/http_download.h"
#include "web/web_client.h"

namespace {

using namespace std::chrono_literals;

const std::string kSystemList = "/liveviewct?action=list&function=system";

class WebClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        folder_.Write("Firmware_V2.xml", "<FirmwareList/>");
        folder_.Write("long.txt", PatternBytes(250000));
        folder_.Write("empty.txt", "");
        sim_ = std::make_unique<DevsimProcess>(
            std::vector<std::string>{"--device", "id=ok,product_model=NVR-1600",          //
                                     "--device", "id=digest,auth=digest",                 //
                                     "--device", "id=missing,fault=http_status:404",      //
                                     "--device", "id=broken,fault=http_status:500",       //
                                     "--device", "id=stalled,fault=stall_mid_body:5000",  //
                                     "--firmware-server", "folder=" + folder_.Path()});
    }

    int Http(const std::string& id) const { return sim_->DeviceById(id).HttpPort; }

    int Fetch(const std::string& url, std::string& text, const std::string& password = "vqmtz",
              int timeoutMs = 2000) {
        CHTTPBase sink;
        return HttpFetch(sink, "admin", password, url, timeoutMs, text);
    }

    TempDir folder_;
    std::unique_ptr<DevsimProcess> sim_;
};

TEST_F(WebClientTest, EveryResultCodeOfTheTable) {
    std::string text = "untouched";
    EXPECT_EQ(Fetch(LocalUrl(Http("ok"), kSystemList), text), rc::kOk);
    EXPECT_NE(text.find("nvr.system.product.model=NVR-1600\n"), std::string::npos);

    text = "untouched";
    EXPECT_EQ(Fetch(LocalUrl(Http("broken"), kSystemList), text), rc::kFailed);
    EXPECT_EQ(Fetch(LocalUrl(Http("missing"), kSystemList), text), rc::kHttpNotFound);
    EXPECT_EQ(Fetch(LocalUrl(Http("ok"), kSystemList), text, "wrong"), rc::kHttpUnauthorized);
    EXPECT_EQ(Fetch(LocalUrl(Http("stalled"), kSystemList), text, "vqmtz", 1000), rc::kTimeout);
    EXPECT_EQ(Fetch("http://no-such-device.invalid/", text), rc::kNameNotResolved);
    EXPECT_EQ(Fetch(LocalUrl(ClosedPort(), "/"), text), rc::kCannotConnect);
    EXPECT_EQ(text, "untouched");

    // The plain text GET folds name and connection failures into -1.
    EXPECT_EQ(HttpGetText("admin", "vqmtz", LocalUrl(Http("ok"), kSystemList), 2000, text), 0);
    EXPECT_NE(text.find("nvr.system.product.model=NVR-1600"), std::string::npos);
    text = "untouched";
    EXPECT_EQ(HttpGetText("admin", "vqmtz", LocalUrl(Http("missing"), kSystemList), 2000, text),
              rc::kHttpNotFound);
    EXPECT_EQ(HttpGetText("admin", "bad", LocalUrl(Http("ok"), kSystemList), 2000, text),
              rc::kHttpUnauthorized);
    EXPECT_EQ(HttpGetText("admin", "vqmtz", LocalUrl(Http("broken"), kSystemList), 2000, text),
              rc::kFailed);
    EXPECT_EQ(HttpGetText("admin", "vqmtz", LocalUrl(Http("stalled"), kSystemList), 1000, text),
              rc::kTimeout);
    EXPECT_EQ(HttpGetText("", "", "http://no-such-device.invalid/", 2000, text), rc::kFailed);
    EXPECT_EQ(HttpGetText("", "", LocalUrl(ClosedPort(), "/"), 2000, text), rc::kFailed);
    EXPECT_EQ(text, "untouched");
}

TEST_F(WebClientTest, SinkFlagsDecideTheResult) {
    TempDir dir;
    std::string path = dir.File("image.bin");
    const std::string url = LocalUrl(sim_->FirmwareServerPort(), "/long.txt");

    DownloadItemBase cancelled;
    cancelled.Cancelled = true;
    CHTTPDownload cancelledSink(cancelled, "series", 0, 250000);
    EXPECT_EQ(HttpFetch(cancelledSink, "", "", url, 2000, path), rc::kCancelled);

    DownloadItemBase full;
    full.SpaceOK = false;
    CHTTPDownload fullSink(full, "series", 0, 250000);
    EXPECT_EQ(HttpFetch(fullSink, "", "", url, 2000, path), rc::kSinkStopped);

    // For a form post "cannot continue" wins over "cancelled", even after a failure.
    DownloadItemBase both;
    both.Cancelled = true;
    both.SpaceOK = false;
    CHTTPDownload bothSink(both, "series", 0, 250000);
    EXPECT_EQ(HttpPostForm(bothSink, "", "", url, "a=b", 2000, path), rc::kSinkStopped);
    EXPECT_EQ(HttpPostForm(bothSink, "", "", LocalUrl(ClosedPort(), "/"), "a=b", 2000, path),
              rc::kSinkStopped);
    CHTTPBase text;
    std::string out;
    EXPECT_EQ(HttpPostForm(text, "", "", LocalUrl(ClosedPort(), "/"), "a=b", 2000, out),
              rc::kCannotConnect);
}

TEST_F(WebClientTest, TextIsCutAt102400BytesAndAnEmptyBodyIsEmpty) {
    std::string text;
    ASSERT_EQ(HttpGetText("", "", LocalUrl(sim_->FirmwareServerPort(), "/long.txt"), 2000, text),
              0);
    EXPECT_EQ(text, PatternBytes(250000).substr(0, 102400));

    text = "something";
    ASSERT_EQ(HttpGetText("", "", LocalUrl(sim_->FirmwareServerPort(), "/empty.txt"), 2000, text),
              0);
    EXPECT_EQ(text, "");
    text = "something";
    EXPECT_EQ(Fetch(LocalUrl(sim_->FirmwareServerPort(), "/empty.txt"), text), 0);
    EXPECT_EQ(text, "");

    // A text sink takes the whole body, in order, across many chunks.
    EXPECT_EQ(Fetch(LocalUrl(sim_->FirmwareServerPort(), "/long.txt"), text), 0);
    EXPECT_EQ(text, PatternBytes(250000));
}

TEST_F(WebClientTest, HttpsWithSelfSignedCertificateAndDigest) {
    const int https = sim_->DeviceById("ok").HttpsPort;
    std::string text;
    EXPECT_EQ(Fetch(LocalUrl(https, kSystemList, "https"), text), 0);
    EXPECT_NE(text.find("nvr.system.product.model="), std::string::npos);
    EXPECT_EQ(HttpGetText("admin", "vqmtz", LocalUrl(https, kSystemList, "https"), 2000, text), 0);

    EXPECT_EQ(Fetch(LocalUrl(Http("digest"), kSystemList), text), 0);
    EXPECT_NE(text.find("nvr.system.product.model="), std::string::npos);
    EXPECT_EQ(Fetch(LocalUrl(Http("digest"), kSystemList), text, "wrong"), rc::kHttpUnauthorized);
    const int digestHttps = sim_->DeviceById("digest").HttpsPort;
    EXPECT_EQ(
        HttpGetText("admin", "vqmtz", LocalUrl(digestHttps, kSystemList, "https"), 2000, text), 0);
}

TEST_F(WebClientTest, OnlyFileDownloadsUseTheEnvironmentProxy) {
    // A proxy that refuses connections: whoever uses it fails, whoever goes direct gets
    // through.
    ::setenv("http_proxy", LocalUrl(ClosedPort(), "").c_str(), 1);
    const std::string url = LocalUrl(sim_->FirmwareServerPort(), "/Firmware_V2.xml");
    std::string text;
    EXPECT_EQ(Fetch(url, text), 0);
    EXPECT_EQ(text, "<FirmwareList/>");
    // Text gets ask devices: never through a proxy.
    text.clear();
    EXPECT_EQ(HttpGetText("", "", url, 2000, text), 0);
    EXPECT_EQ(text, "<FirmwareList/>");
    TempDir dir;
    std::string path = dir.File("catalogue");
    DownloadItemBase item;
    CHTTPDownload sink(item, "series", 0, 0);
    EXPECT_EQ(HttpFetch(sink, "", "", url, 2000, path), rc::kCannotConnect);
    ClearProxyEnvironment();
}

TEST_F(WebClientTest, CallsOnManyThreadsAtOnceShareNothing) {
    TempDir dir;
    std::vector<int> results(8, -99);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            std::string text;
            if (i % 2 == 0) {
                DownloadItemBase item;
                CHTTPDownload sink(item, "series", 0, 250000);
                std::string path = dir.File("copy" + std::to_string(i));
                results[i] = HttpFetch(
                    sink, "", "", LocalUrl(sim_->FirmwareServerPort(), "/long.txt"), 5000, path);
            } else {
                results[i] = Fetch(LocalUrl(Http("digest"), kSystemList), text, "vqmtz", 5000);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], 0) << i;
        if (i % 2 == 0) {
            EXPECT_EQ(dir.Read("copy" + std::to_string(i)),
                      SizeHeader(250000) + PatternBytes(250000));
        }
    }
}

}  // namespace
