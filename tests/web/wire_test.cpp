// The exact requests the client sends, and answers no honest server gives.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/result_codes.h"
#include "base/text.h"
#include "raw_http_server.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "web/clfx_quor_client.h"
#include "web/http_base.h"
#include "web/http_download.h"
#include "web/web_client.h"

namespace {

using Request = RawHttpServer::Request;

class WireTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }
    TempDir dir_;
};

TEST_F(WireTest, FetchAsksForTheMissingRangeWithAnEmptyPost) {
    RawHttpServer server([](const Request&) {
        return RawHttpServer::Answer(206, "Partial Content", {"Content-Range: bytes 10-19/20"},
                                     "KLMNOPQRST");
    });
    dir_.Write("image.bin", SizeHeader(20) + "ABCDEFGHIJ");
    std::string path = dir_.File("image.bin");
    DownloadItemBase item;
    CHTTPDownload sink(item, "series", 0, 20);
    ASSERT_EQ(HttpFetch(sink, "", "", LocalUrl(server.Port(), "/fw/image.bin"), 2000, path), 0);
    EXPECT_EQ(dir_.Read("image.bin"), SizeHeader(20) + "ABCDEFGHIJKLMNOPQRST");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Request& r = requests[0];
    EXPECT_TRUE(StartsWith(r.Head, "POST /fw/image.bin HTTP/1.1\r\n")) << r.Head;
    EXPECT_TRUE(r.HasHeader("Range: bytes=10-")) << r.Head;
    EXPECT_TRUE(r.HasHeader("User-Agent: Strelvane")) << r.Head;
    EXPECT_TRUE(r.HasHeader("Content-Length: 0")) << r.Head;
    EXPECT_FALSE(r.HasHeaderNamed("Content-Type")) << r.Head;
    EXPECT_FALSE(r.HasHeaderNamed("Expect")) << r.Head;
    EXPECT_FALSE(r.HasHeaderNamed("Authorization")) << r.Head;
    EXPECT_EQ(r.Body, "");
}

TEST_F(WireTest, PartThatDoesNotContinueTheFileIsRefused) {
    RawHttpServer server([](const Request&) {
        return RawHttpServer::Answer(206, "Partial Content", {"Content-Range: bytes 0-19/20"},
                                     "abcdefghijklmnopqrst");
    });
    const std::string held = SizeHeader(20) + "ABCDEFGHIJ";
    dir_.Write("image.bin", held);
    std::string path = dir_.File("image.bin");
    DownloadItemBase item;
    CHTTPDownload sink(item, "series", 0, 20);
    EXPECT_EQ(HttpFetch(sink, "", "", LocalUrl(server.Port(), "/image.bin"), 2000, path),
              rc::kFailed);
    EXPECT_EQ(dir_.Read("image.bin"), held);
}

TEST_F(WireTest, HeldBytesOfAnotherVersionOfTheFileAreDropped) {
    DownloadItemBase item;
    CHTTPDownload sink(item, "series", 0, 20);
    std::string path = dir_.File("image.bin");
    // The file grew on the server since the held part came: appending its tail to the
    // old start would make a file that is neither.
    RawHttpServer grown([](const Request&) {
        return RawHttpServer::Answer(206, "Partial Content", {"Content-Range: bytes 10-29/30"},
                                     "abcdefghijklmnopqrst");
    });
    dir_.Write("image.bin", SizeHeader(20) + "ABCDEFGHIJ");
    EXPECT_EQ(HttpFetch(sink, "", "", LocalUrl(grown.Port(), "/image.bin"), 2000, path),
              rc::kFailed);
    EXPECT_FALSE(std::filesystem::exists(path));

    // It shrank below the held part: no range of it continues the file.
    RawHttpServer shrunk([](const Request&) {
        return RawHttpServer::Answer(416, "Range Not Satisfiable", {"Content-Range: bytes */8"},
                                     "");
    });
    dir_.Write("image.bin", SizeHeader(20) + "ABCDEFGHIJ");
    EXPECT_EQ(HttpFetch(sink, "", "", LocalUrl(shrunk.Port(), "/image.bin"), 2000, path),
              rc::kFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(WireTest, FormPostSendsTheFormAndNeverARange) {
    RawHttpServer server(
        [](const Request&) { return RawHttpServer::Answer(200, "OK", {}, "0123456789"); });
    dir_.Write("answer.bin", SizeHeader(30) + "held");
    std::string path = dir_.File("answer.bin");
    DownloadItemBase item;
    CHTTPDownload sink(item, "series", 0, 10);
    ASSERT_EQ(HttpPostForm(sink, "admin", "vqmtz", LocalUrl(server.Port(), "/cgi-bin/x.cgi"),
                           "a=1&b=two", 2000, path),
              0);
    // The whole answer replaced the held part, with its own size in the header.
    EXPECT_EQ(dir_.Read("answer.bin"), SizeHeader(10) + "0123456789");

    const Request r = server.Requests().at(0);
    EXPECT_TRUE(StartsWith(r.Head, "POST /cgi-bin/x.cgi HTTP/1.1\r\n"));
    EXPECT_TRUE(r.HasHeader("Content-Type: application/x-www-form-urlencoded")) << r.Head;
    EXPECT_FALSE(r.HasHeaderNamed("Range")) << r.Head;
    EXPECT_EQ(r.Body, "a=1&b=two");
}

TEST_F(WireTest, TextGetAcceptsOnly200AndStopsAtAZeroByte) {
    int status = 206;
    RawHttpServer server([&status](const Request&) {
        return RawHttpServer::Answer(status, "Whatever", {}, std::string("text\0rest", 9));
    });
    std::string text = "untouched";
    EXPECT_EQ(HttpGetText("", "", LocalUrl(server.Port(), "/a"), 2000, text), rc::kFailed);
    EXPECT_EQ(text, "untouched");
    status = 200;
    EXPECT_EQ(HttpGetText("", "", LocalUrl(server.Port(), "/a"), 2000, text), 0);
    EXPECT_EQ(text, "text");
    CHTTPBase sink;
    EXPECT_EQ(HttpFetch(sink, "", "", LocalUrl(server.Port(), "/a"), 2000, text), 0);
    EXPECT_EQ(text, "text");
    EXPECT_TRUE(StartsWith(server.Requests().at(1).Head, "GET /a HTTP/1.1\r\n"));
}

TEST_F(WireTest, NvrSessionKeepsOneConnectionAndSendsQueuedHeadersOnce) {
    RawHttpServer server([](const Request& r) {
        if (StartsWith(r.Head, "POST")) {
            return RawHttpServer::Answer(302, "Found", {"Location: /elsewhere.htm"}, "");
        }
        if (r.Head.find("/missing") != std::string::npos) {
            return RawHttpServer::Answer(404, "Not Found", {}, "gone");
        }
        return RawHttpServer::Answer(200, "OK", {}, "page body");
    });
    CLFX::CLFXQuorClient client;
    client.SetTimeout(2000);
    client.Connect("127.0.0.1", server.Port());
    client.AddHeader("Connection: Keep-Alive");
    client.AddHeader("Accept: */*");
    std::string reply;
    EXPECT_EQ(client.Request("GET", "/first", "", reply, "admin", "vqmtz"), 200);
    EXPECT_EQ(reply, "page body");
    EXPECT_EQ(client.Request("POST", "/second", "x=1", reply, "", ""), 302);
    EXPECT_EQ(reply, "/elsewhere.htm");  // seen, not followed
    EXPECT_EQ(client.Request("GET", "/missing", "", reply, "", ""), 404);
    EXPECT_EQ(reply, "");
    client.Close();

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);  // the redirect target was never asked for
    for (const Request& r : requests) {
        EXPECT_EQ(r.Connection, 1) << r.Head;
        EXPECT_TRUE(r.HasHeader("User-Agent: Quorlent_Agent")) << r.Head;
        EXPECT_FALSE(r.HasHeaderNamed("Expect")) << r.Head;
    }
    // A queued header replaces the default one of the same name, for one request only.
    EXPECT_TRUE(requests[0].HasHeader("Accept: */*")) << requests[0].Head;
    EXPECT_FALSE(requests[0].HasHeader("Accept: text/html, application/xhtml+xml, */*"));
    EXPECT_TRUE(requests[0].HasHeader("Connection: Keep-Alive"));
    EXPECT_TRUE(requests[0].HasHeader("Authorization: Basic YWRtaW46dnFtdHo="));
    EXPECT_TRUE(requests[1].HasHeader("Accept: text/html, application/xhtml+xml, */*"));
    EXPECT_FALSE(requests[1].HasHeader("Connection: Keep-Alive"));
    EXPECT_FALSE(requests[1].HasHeaderNamed("Authorization"));
    EXPECT_FALSE(requests[1].HasHeaderNamed("Content-Type"));
    EXPECT_EQ(requests[1].Body, "x=1");
    EXPECT_TRUE(StartsWith(requests[2].Head, "GET /missing HTTP/1.1\r\n"));
}

TEST_F(WireTest, NvrLoginFormEscapesTheCredentials) {
    RawHttpServer server([](const Request&) {
        return RawHttpServer::Answer(302, "Found", {"Location: http://nvr/INDEX.HTM"}, "");
    });
    CLFX::CLFXQuorClient client;
    client.SetTimeout(2000);
    client.Connect("127.0.0.1", server.Port());
    EXPECT_TRUE(client.Login("ad min", "p&=+%# x", true));
    EXPECT_TRUE(client.Login("admin", "vqmtz", false));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(StartsWith(requests[0].Head, "POST /login.cgi/cgi_main.cgi? HTTP/1.1\r\n"));
    EXPECT_EQ(requests[0].Body,
              "cgiName=login.cgi&userName=ad%20min&userPasswd=p%26%3D%2B%25%23%20x"
              "&clientName=Strelvane");
    EXPECT_EQ(requests[1].Body,
              "cgiName=login.cgi&userName=admin&userPasswd=vqmtz&unNeedLogged=true");
}

TEST(NvrSessionTest, HostsAndUnreachableDevices) {
    CLFX::CLFXQuorClient client;
    std::string host = "fe80::1";
    EXPECT_TRUE(client.BracketHost(host));
    EXPECT_EQ(host, "[fe80::1]");
    host = "[fe80::2]";
    EXPECT_TRUE(client.BracketHost(host));
    EXPECT_EQ(host, "[fe80::2]");
    host = "10.0.0.5";
    EXPECT_FALSE(client.BracketHost(host));
    EXPECT_EQ(host, "10.0.0.5");

    std::string reply = "old";
    EXPECT_EQ(client.Request("GET", "/", "", reply, "", ""), 0);  // never connected
    client.SetTimeout(1000);
    client.Connect("::1", ClosedPort());
    EXPECT_EQ(client.Request("GET", "/", "", reply, "", ""), 0);
    EXPECT_EQ(reply, "");
    EXPECT_FALSE(client.GetErrorText().empty());
    EXPECT_FALSE(client.Login("admin", "vqmtz", true));
}

}  // namespace
