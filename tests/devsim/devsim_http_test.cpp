// The simulator's own HTTP checks: ranges, folder bounds and refused settings.
#include <gtest/gtest.h>

#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "web/http_base.h"
#include "web/web_client.h"

namespace {

using namespace std::chrono_literals;

// A text sink that claims to hold `have` bytes of `total`, so the fetch asks for the rest.
class HoldingSink : public CHTTPBase {
public:
    HoldingSink(int64_t have, int64_t total) : have_(have), total_(total) {}
    void GetResumePoint(const std::string&, int64_t& have, int64_t& total) override {
        have = have_;
        total = total_;
    }

private:
    int64_t have_;
    int64_t total_;
};

TEST(DevsimHttpTest, FirmwareServerAnswersRangesAndStaysInItsFolder) {
    TempDir folder;
    folder.Write("image.bin", "0123456789abcdefghij");
    DevsimProcess sim({"--firmware-server", "folder=" + folder.Path()});
    const std::string url =
        "http://127.0.0.1:" + std::to_string(sim.FirmwareServerPort()) + "/image.bin";

    HoldingSink part(12, 20);
    std::string text;
    ASSERT_EQ(HttpFetch(part, "", "", url, 2000, text), 0);
    EXPECT_EQ(text, "cdefghij");
    HoldingSink beyond(25, 30);
    EXPECT_EQ(HttpFetch(beyond, "", "", url, 2000, text), -1);  // 416

    const int port = sim.FirmwareServerPort();
    EXPECT_EQ(StatusLine(port, "GET /image.bin HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 200 OK");
    EXPECT_EQ(StatusLine(port, "GET /../image.bin HTTP/1.1\r\nHost: x\r\n\r\n"),
              "HTTP/1.1 404 Not Found");
    EXPECT_EQ(StatusLine(port, "GET /%2e%2e/etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n"),
              "HTTP/1.1 404 Not Found");
}

TEST(DevsimHttpTest, BadFaultValuesAndSettingsAreRefused) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--device", "id=A,fault=delay:soon"},
             {"--device", "id=A,fault=http_status:42"},
             {"--device", "id=A,auth=kerberos"},
             {"--firmware-server", "fault=rate_limit:0"},
             {"--firmware-server", "fault=ignore_range:x,fault=drop_mid_body:-5"}}) {
        std::vector<std::string> argv = {DEVSIM_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(RunProcess(argv, 10s).ExitCode, 2) << args.back();
    }
}

}  // namespace
