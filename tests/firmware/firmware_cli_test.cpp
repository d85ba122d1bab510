// strelvane-cli firmware: its output, exit codes, and how it stops — by a signal, by its
// time limit, and killed outright mid-download (the next run resumes).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "base/text.h"
#include "firmware/store_location.h"
#include "firmware_test_support.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/web_test_support.h"

namespace {

using namespace std::chrono_literals;

class FirmwareCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        // Settings, trace log and default store of the runs stay in the sandbox.
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_STATE_HOME", "XDG_DATA_HOME", "HOME"}) {
            ::setenv(name, home_.Path().c_str(), 1);
        }
    }

    std::vector<std::string> Command(const std::vector<std::string>& words,
                                     const std::string& base) const {
        std::vector<std::string> argv = {STRELVANE_CLI_PATH, "firmware"};
        argv.insert(argv.end(), words.begin(), words.end());
        if (!base.empty()) argv.insert(argv.end(), {"--server", base});
        argv.insert(argv.end(), {"--storage", store_.Path()});
        return argv;
    }

    ProcessResult Run(const std::vector<std::string>& words, const std::string& base = "") const {
        return RunProcess(Command(words, base), 20s);
    }

    int64_t StoreFileSize(const std::string& file) const {
        std::error_code error;
        const auto size = std::filesystem::file_size(store_.File(file), error);
        return error ? -1 : static_cast<int64_t>(size);
    }

    void Publish(const std::string& file, const std::string& bytes) {
        server_.Write(file, bytes);
        server_.Write("Firmware_V2.xml",
                      ServerCatalogText({Record("S1", "M1", "1.0", file, bytes)}));
    }

    TempDir home_;
    TempDir server_;
    TempDir store_;
};

bool Has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

TEST_F(FirmwareCliTest, BadArgumentsAndMissingServer) {
    for (const auto& words :
         std::vector<std::vector<std::string>>{{},
                                               {"fetch"},
                                               {"check", "S1"},
                                               {"list", "--server", "http://127.0.0.1:9"},
                                               {"download", "--timeout", "0"},
                                               {"download", "--timeout", "5s"},
                                               {"check", "--timeout", "5"},
                                               {"check", "--bogus"}}) {
        std::vector<std::string> argv = {STRELVANE_CLI_PATH, "firmware"};
        argv.insert(argv.end(), words.begin(), words.end());
        EXPECT_EQ(RunProcess(argv, 10s).ExitCode, 2) << (words.empty() ? "" : words[0]);
    }
    const ProcessResult help = RunProcess({STRELVANE_CLI_PATH, "firmware", "--help"}, 10s);
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(Has(help.Output, "usage: strelvane-cli firmware check"));
    // No URL setting and no --server; a server that refuses.
    EXPECT_EQ(Run({"check"}).ExitCode, 1);
    EXPECT_EQ(Run({"check"}, "http://127.0.0.1:" + std::to_string(ClosedPort())).ExitCode, 1);
}

TEST_F(FirmwareCliTest, CheckDownloadAndList) {
    const std::string image = PatternBytes(250000);
    Publish("a.bin", image);
    FirmwareServerFixture server(server_);

    ProcessResult check = Run({"check"}, server.Base());
    EXPECT_EQ(check.ExitCode, 0);
    EXPECT_EQ(
        check.Output,
        "{\"series\":\"S1\",\"images\":1,\"size\":250000,\"checked\":false,\"state\":\"older\"}\n");
    EXPECT_EQ(Run({"download", "S9"}, server.Base()).ExitCode, 2);

    ProcessResult download = Run({"download", "S1"}, server.Base());
    EXPECT_EQ(download.ExitCode, 0) << download.Output;
    EXPECT_EQ(
        download.Output,
        "{\"series\":\"S1\",\"queued\":true}\n"
        "{\"series\":\"S1\",\"kind\":1,\"a\":0,\"b\":100,\"text\":\"Image stored and verified\"}\n"
        "{\"series\":\"S1\",\"kind\":2,\"a\":0,\"b\":100,\"text\":\"Latest\"}\n");
    EXPECT_EQ(store_.Read("a.bin"), StoredImage(image));

    ProcessResult list = Run({"list"});
    EXPECT_EQ(list.ExitCode, 0);
    EXPECT_TRUE(Has(list.Output, "\"version\":\"1.0\",\"md5\":\"" + Md5Of(image) + "\""));
    EXPECT_TRUE(Has(list.Output, "\"complete\":true"));
    EXPECT_TRUE(Has(Run({"check"}, server.Base()).Output, "\"state\":\"latest\""));
}

TEST_F(FirmwareCliTest, KilledDownloadIsResumedWithARangeAndVerified) {
    const std::string image = PatternBytes(1500000);
    Publish("big.bin", image);
    {
        FirmwareServerFixture slow(server_, "fault=rate_limit:400000");
        ChildProcess cli(Command({"download"}, slow.Base()));
        ASSERT_TRUE(WaitUntil([&] { return StoreFileSize("big.bin") >= 4 + 102400; }));
        cli.Signal(SIGKILL);
        ASSERT_TRUE(cli.Wait(5s));
    }
    const int64_t held = StoreFileSize("big.bin") - 4;
    ASSERT_GT(held, 0);
    ASSERT_LT(held, static_cast<int64_t>(image.size()));

    FirmwareServerFixture server(server_);
    ProcessResult again = Run({"download"}, server.Base());
    EXPECT_EQ(again.ExitCode, 0) << again.Output;
    EXPECT_EQ(server.RangesAskedFor("/big.bin"),
              std::vector<std::string>{"bytes=" + std::to_string(held) + "-"});
    EXPECT_EQ(store_.Read("big.bin"), StoredImage(image));
}

TEST_F(FirmwareCliTest, InterruptAndTimeLimitStopCleanly) {
    const std::string image = PatternBytes(1000000);
    Publish("big.bin", image);
    FirmwareServerFixture server(server_, "fault=rate_limit:200000");
    ChildProcess cli(Command({"download"}, server.Base()));
    ASSERT_TRUE(WaitUntil([&] { return StoreFileSize("big.bin") >= 4 + 102400; }));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5s), 1);
    EXPECT_TRUE(Has(cli.ReadRest(1s), "\"kind\":4"));
    // What arrived stays for the next run.
    EXPECT_GT(StoreFileSize("big.bin"), 4);
    EXPECT_LT(StoreFileSize("big.bin"), static_cast<int64_t>(image.size()));

    // An image the server does not have is retried until the time limit.
    server_.Write("Firmware_V2.xml",
                  ServerCatalogText({Record("S1", "M1", "2.0", "absent.bin", image)}));
    const auto start = std::chrono::steady_clock::now();
    ProcessResult limited = Run({"download", "--timeout", "1"}, server.Base());
    EXPECT_EQ(limited.ExitCode, 1);
    EXPECT_TRUE(Has(limited.Output, "\"kind\":4"));
    // Every failed attempt is shown with its reason.
    EXPECT_TRUE(Has(limited.Output,
                    "{\"series\":\"S1\",\"file\":\"absent.bin\",\"attempt\":1,\"retrying\":true,"
                    "\"error\":\"the server has no such file (HTTP 404)\"}"))
        << limited.Output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(FirmwareCliTest, AVerifiedStoreSurvivesEmptyCataloguesAndOtherProcesses) {
    const std::string image = PatternBytes(200000);
    Publish("a.bin", image);
    FirmwareServerFixture server(server_);
    ASSERT_EQ(Run({"download"}, server.Base()).ExitCode, 0);
    const std::string catalogue = store_.Read("firmware.xml");

    // An empty list, and a page that happens to parse: a failed check, nothing deleted.
    for (const char* text : {"<?xml version=\"1.0\"?><FirmwareList></FirmwareList>",
                             "<html><head><title>Sign in</title></head><body/></html>"}) {
        server_.Write("Firmware_V2.xml", text);
        const ProcessResult check = Run({"check"}, server.Base());
        EXPECT_EQ(check.ExitCode, 1) << text;
        EXPECT_EQ(store_.Read("a.bin"), StoredImage(image)) << text;
        EXPECT_EQ(store_.Read("firmware.xml"), catalogue) << text;
    }
    Publish("a.bin", image);

    // A store another process works on is busy for a while, then said to be.
    {
        std::optional<CFileLock> other =
            CFileLock::TryAcquire(store_.Path() + "/firmware.xml.lock", std::chrono::seconds(1));
        ASSERT_TRUE(other);
        EXPECT_EQ(Run({"check"}, server.Base()).ExitCode, 1);
    }
    // Two downloaders at once both end with the image verified.
    std::filesystem::remove(store_.File("a.bin"));
    ChildProcess first(Command({"download"}, server.Base()));
    ChildProcess second(Command({"download"}, server.Base()));
    EXPECT_EQ(first.Wait(20s), 0);
    EXPECT_EQ(second.Wait(20s), 0);
    EXPECT_EQ(store_.Read("a.bin"), StoredImage(image));
}

TEST_F(FirmwareCliTest, StoreThatCannotBeWrittenOrUsedFailsLoudly) {
    Publish("a.bin", PatternBytes(1000));
    FirmwareServerFixture server(server_);
    // firmware.xml leads into a folder that is not there: the merge cannot be kept.
    std::filesystem::create_symlink(store_.File("gone/firmware.xml"), store_.File("firmware.xml"));
    const ProcessResult check = Run({"check"}, server.Base());
    EXPECT_EQ(check.ExitCode, 1);
    EXPECT_TRUE(check.Output.empty()) << check.Output;

    // A Storage setting naming a file is refused as --storage naming it is.
    home_.Write("a-file", "x");
    std::filesystem::create_directories(home_.File("strelvane"));
    home_.Write("strelvane/settings.conf", "Storage=" + home_.File("a-file") + "\n");
    std::vector<std::string> argv = {STRELVANE_CLI_PATH, "firmware", "list"};
    EXPECT_EQ(RunProcess(argv, 10s).ExitCode, 1);
    argv.insert(argv.end(), {"--storage", home_.File("a-file")});
    EXPECT_EQ(RunProcess(argv, 10s).ExitCode, 1);

    // A settings file that is a FIFO would hold a reader for ever: it is named at once.
    std::filesystem::remove(home_.File("strelvane/settings.conf"));
    ASSERT_EQ(::mkfifo(home_.File("strelvane/settings.conf").c_str(), 0600), 0);
    const ProcessResult fifo =
        RunProcess({"/bin/sh", "-c", "exec \"$0\" firmware list 2>&1", STRELVANE_CLI_PATH}, 10s);
    EXPECT_EQ(fifo.ExitCode, 1) << fifo.Output;
    EXPECT_TRUE(Has(fifo.Output, "the settings file " + home_.File("strelvane/settings.conf") +
                                     " cannot be read: not a regular file"))
        << fifo.Output;
}

// A stick with two sound images, a tampered and a truncated one: two imports at once
// into one empty store leave both sound images whole and nothing else; the refused ones
// are named with their reason; an import of nothing sound changes nothing.
TEST_F(FirmwareCliTest, ImportsRefuseDamagedImagesAndTwoAtOnceKeepTheStoreWhole) {
    TempDir stick;
    const std::string one = PatternBytes(3000000, 'p');
    const std::string two = PatternBytes(2000000, 'q');
    stick.Write("Firmware_V2.xml",
                ServerCatalogText({Record("S1", "M1", "1.0", "one.bin", one),
                                   Record("S1", "M2", "1.0", "two.bin", two),
                                   Record("S2", "M3", "1.0", "tampered.bin", one),
                                   Record("S2", "M4", "1.0", "short.bin", two)}));
    stick.Write("one.bin", one);
    stick.Write("two.bin", two);
    stick.Write("tampered.bin", std::string(one).replace(1234, 1, "#"));
    stick.Write("short.bin", two.substr(0, 1999000));

    ChildProcess first(Command({"import", stick.Path()}, ""));
    ChildProcess second(Command({"import", stick.Path()}, ""));
    std::vector<std::string> lines;
    for (ChildProcess* cli : {&first, &second}) {
        while (std::optional<std::string> line = cli->ReadLine(20s)) lines.push_back(*line);
        // Refused images end both with 1, whether they imported or found the store busy.
        EXPECT_EQ(cli->Wait(20s), 1);
    }
    EXPECT_EQ(store_.Read("one.bin"), StoredImage(one));
    EXPECT_EQ(store_.Read("two.bin"), StoredImage(two));
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(store_.Path()))
        files.insert(entry.path().filename().string());
    EXPECT_EQ(files,
              (std::set<std::string>{"firmware.xml", "firmware.xml.lock", "one.bin", "two.bin"}));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line ==
               "{\"file\":\"tampered.bin\",\"series\":\"S2\",\"model\":\"M3\","
               "\"version\":\"1.0\",\"size\":3000000,\"outcome\":\"refused\","
               "\"reason\":\"the bytes do not match the catalogue's MD5 (altered or "
               "damaged)\"}";
    }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return Has(line, "\"file\":\"short.bin\"") &&
               Has(line, "the file has 1999000 bytes, the catalogue says 2000000");
    }));

    const std::string catalogue = store_.Read("firmware.xml");
    stick.Write("Firmware_V2.xml",
                ServerCatalogText({Record("S2", "M3", "1.0", "tampered.bin", one)}));
    EXPECT_EQ(Run({"import", stick.Path()}).ExitCode, 1);
    EXPECT_EQ(store_.Read("firmware.xml"), catalogue);
    EXPECT_FALSE(std::filesystem::exists(store_.File("tampered.bin")));
    // Once nothing is refused, a repeat only skips: status 0.
    stick.Write("Firmware_V2.xml", ServerCatalogText({Record("S1", "M1", "1.0", "one.bin", one)}));
    const ProcessResult again = Run({"import", stick.Path()});
    EXPECT_EQ(again.ExitCode, 0);
    EXPECT_TRUE(Has(again.Output, "\"outcome\":\"skipped\",\"reason\":\"already stored\""));
}

// Through a proxy that asks for a log-in and drops the link in the middle of the image:
// the download resumes where the cut left it; a wrong password is named as the proxy's
// refusal.
TEST_F(FirmwareCliTest, DownloadThroughAProxyResumesAfterACut) {
    const std::string image = PatternBytes(1500000);
    Publish("big.bin", image);
    FirmwareServerFixture server(server_);
    DevsimProcess proxy({"--proxy", "user=tech,password=pw-9,cut_after=400000,log=1"});
    const std::string address = "127.0.0.1:" + std::to_string(proxy.ProxyPort());
    auto through = [&](const std::string& password, const std::vector<std::string>& words) {
        std::vector<std::string> argv = {"env", "STRELVANE_PROXY_PASSWORD=" + password};
        for (const std::string& word : Command(words, server.Base())) argv.push_back(word);
        argv.insert(argv.end(), {"--proxy", address, "--proxy-user", "tech"});
        return argv;
    };
    std::vector<std::string> wrong = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    for (const std::string& word : through("nope", {"check"})) wrong.push_back(word);
    const ProcessResult refused = RunProcess(wrong, 20s);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_TRUE(Has(refused.Output, "the proxy refused the connection or its log-in"))
        << refused.Output;

    const ProcessResult download = RunProcess(through("pw-9", {"download"}), 60s);
    EXPECT_EQ(download.ExitCode, 0) << download.Output;
    EXPECT_EQ(store_.Read("big.bin"), StoredImage(image));
    const std::vector<std::string> ranges = server.RangesAskedFor("/big.bin");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], "-");
    EXPECT_TRUE(StartsWith(ranges[1], "bytes=")) << ranges[1];
    EXPECT_GT(ParseDecimal(ranges[1].substr(6)), 300000) << ranges[1];
    // Every request went through the proxy, the first cut.
    std::string relayed;
    while (auto line = proxy.Process().ReadLine(200ms)) relayed += *line + "\n";
    EXPECT_TRUE(Has(relayed, "url=" + server.Base() + "/big.bin auth=ok cut=1")) << relayed;
}

}  // namespace
