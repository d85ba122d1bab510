// The simulator's own HTTP checks: ranges, folder bounds and refused settings.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/devsim_process.h"
#include "support/temp_dir.h"
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

// The status line of a raw request, sent as written (no client tidies the path).
std::string StatusLine(int port, const std::string& request) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    timeval limit{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(s, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        char buffer[256];
        const ssize_t got = ::recv(s, buffer, sizeof(buffer), 0);
        if (got > 0) answer.assign(buffer, static_cast<size_t>(got));
    }
    ::close(s);
    return answer.substr(0, answer.find("\r\n"));
}

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
