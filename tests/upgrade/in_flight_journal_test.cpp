// The journal of devices in flight: processes writing at once keep each other's
// entries, only ended processes' entries are taken, and a torn or hostile file neither
// hangs a reader nor sends a request anywhere it should not.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "base/result_codes.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "upgrade/in_flight_journal.h"
#include "upgrade/in_flight_review.h"

namespace {

InFlightDevice Device(const std::string& key) {
    InFlightDevice d;
    d.Key = key;
    d.DeviceId = key;
    d.Mac = "00:1C:A1:00:00:01";
    d.Scheme = "http";
    d.Host = "198.18.1.3";
    d.Port = 80;
    d.User = "admin";
    d.VersionBefore = "1.0.0";
    d.ImagePath = "/images/fw.bin";
    return d;
}

std::set<std::string> Keys(const std::vector<InFlightDevice>& devices) {
    std::set<std::string> keys;
    for (const InFlightDevice& d : devices) keys.insert(d.Key);
    return keys;
}

TEST(InFlightJournalTest, ConcurrentProcessesKeepEachOthersEntries) {
    TempDir dir;
    const CInFlightJournal journal(dir.File("state/in-flight.tsv"));
    constexpr int kProcesses = 4;
    constexpr int kEach = 30;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < kEach; ++i) {
                const std::string key = "P" + std::to_string(p) + "-" + std::to_string(i);
                journal.UploadBegins(Device(key));
                // Every other device lands; the rest stay in flight.
                if (i % 2 == 1) journal.OutcomeRecorded(InFlightOrigin::Upgrade, key);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> expected;
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kEach; i += 2)
            expected.insert("P" + std::to_string(p) + "-" + std::to_string(i));
    }
    EXPECT_EQ(Keys(journal.Entries()), expected);
    struct stat st {};
    ASSERT_EQ(::stat(journal.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the owner's only";

    // This process's own device is its own run's: not taken. The ended ones are, once.
    journal.UploadBegins(Device("mine"));
    EXPECT_TRUE(journal.TakeOrphans(InFlightOrigin::Schedule).empty()) << "another origin";
    EXPECT_EQ(Keys(journal.TakeOrphans(InFlightOrigin::Upgrade)), expected);
    EXPECT_TRUE(journal.TakeOrphans(InFlightOrigin::Upgrade).empty());
    EXPECT_EQ(Keys(journal.Entries()), std::set<std::string>{"mine"});
    journal.OutcomeRecorded(InFlightOrigin::Upgrade, "mine");
    EXPECT_TRUE(journal.Entries().empty());
}

TEST(InFlightJournalTest, TornAndHostileEntriesAreLeftOut) {
    InFlightDevice sound = Device("ok");
    sound.Pid = 4242;
    sound.Began = 1796793494;
    const std::string good = EncodeInFlight({sound});
    ASSERT_EQ(DecodeInFlight(good), std::vector<InFlightDevice>{sound});
    // A field of `good` replaced: the field's index and its new text.
    auto with = [&](size_t field, const std::string& text) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (size_t tab; (tab = good.find('\t', start)) != std::string::npos; start = tab + 1) {
            fields.push_back(good.substr(start, tab - start));
        }
        fields.push_back(good.substr(start, good.size() - 1 - start));
        fields.at(field) = text;
        std::string line;
        for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
        return line + "\n";
    };
    struct Case {
        const char* Name;
        std::string Text;
    };
    const Case bad[] = {
        {"cut short", good.substr(0, good.size() - 5)},
        {"no line feed", good.substr(0, good.size() - 1)},
        {"unknown format", with(0, "J9")},
        {"no key", with(1, "")},
        {"unknown origin", with(2, "elsewhere")},
        {"no process", with(3, "0")},
        {"a process that is no number", with(3, "12x")},
        {"a scheme no device speaks", with(9, "file")},
        {"a host that would change the URL", with(10, "198.18.1.3/x?@evil")},
        {"a host with a user", with(10, "admin@198.18.1.3")},
        {"port 0", with(11, "0")},
        {"port out of range", with(11, "65536")},
        {"unknown protocol", with(12, "telnet")},
        {"no end mark", with(18, "en")},
        {"binary", std::string("J1\t\x01\x02\xff\n", 7)},
    };
    for (const Case& c : bad) {
        int skipped = 0;
        const std::vector<InFlightDevice> alone = DecodeInFlight(c.Text, &skipped);
        EXPECT_TRUE(alone.empty()) << c.Name;
        EXPECT_EQ(skipped, 1) << c.Name;
    }
    // Control characters in device texts cannot break a line.
    InFlightDevice odd = Device("tab\there\nnext");
    odd.DeviceName = "Gate\r\n\tJ1";
    odd.Pid = 1;
    const std::vector<InFlightDevice> back = DecodeInFlight(EncodeInFlight({odd}));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].Key, "tabherenext");
    EXPECT_EQ(back[0].DeviceName, "GateJ1");
}

TEST(InFlightJournalTest, AFileThatIsNoJournalIsNeitherReadNorKept) {
    TempDir dir;
    const CInFlightJournal journal(dir.File("in-flight.tsv"));
    // Far too large to be one: ignored, then replaced by a sound one.
    dir.Write("in-flight.tsv", std::string(3 << 20, 'x') + "\n");
    EXPECT_TRUE(journal.Entries().empty());
    journal.UploadBegins(Device("A"));
    EXPECT_EQ(Keys(journal.Entries()), std::set<std::string>{"A"});
    // A FIFO in its place would block a reader without end.
    const std::string fifo = dir.File("fifo/in-flight.tsv");
    ::mkdir(dir.File("fifo").c_str(), 0700);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const CInFlightJournal blocked(fifo);
    EXPECT_TRUE(blocked.Entries().empty());
    EXPECT_TRUE(blocked.TakeOrphans(InFlightOrigin::Upgrade).empty());
}

// The next start's look proves the device by the MAC its system list names, and judges
// only by a version that tells.
TEST(InFlightJournalTest, ALookJudgesOnlyAProvedDeviceByItsVersion) {
    DevsimProcess sim({"--device", "id=A,mac=00:1C:A1:00:00:01,firmware=2.0.0,https_port=-1"});
    InFlightDevice d = Device("A");
    d.Host = "127.0.0.1";
    d.Port = sim.DeviceById("A").HttpPort;
    using F = InFlightFinding;
    struct Case {
        const char* Name;
        std::string Mac, Before;
        bool FromStore;
        std::string Password;
        F Finding;
    };
    const Case cases[] = {
        {"back with another version", d.Mac, "1.0.0", false, "vqmtz", F::Upgraded},
        {"the store's image, the old version", d.Mac, "2.0.0", true, "vqmtz", F::OldFirmware},
        {"a hand-picked image of its own version", d.Mac, "2.0.0", false, "vqmtz", F::NotConfirmed},
        {"the version before unknown", d.Mac, "", true, "vqmtz", F::NotConfirmed},
        {"another device at the address", "00:1C:A1:00:00:99", "1.0.0", false, "vqmtz",
         F::NotConfirmed},
        {"no MAC to prove it by", "", "1.0.0", false, "vqmtz", F::NotConfirmed},
        {"the password refused", d.Mac, "1.0.0", false, "wrong", F::NotConfirmed},
    };
    for (const Case& c : cases) {
        InFlightDevice device = d;
        device.Mac = c.Mac;
        device.VersionBefore = c.Before;
        device.ImagesFromStore = c.FromStore;
        EXPECT_EQ(LookAtInFlight(device, c.Password, 2000).Finding, c.Finding) << c.Name;
    }
    EXPECT_EQ(LookAtInFlight(d, "vqmtz", 2000).Version, "2.0.0");

    // What the history then says, from the record the run left.
    UpgradeHistoryRecord cut;
    cut.DeviceId = "A";
    cut.Code = rc::kNotConfirmed;
    UpgradeHistoryRecord lost = cut;
    lost.Code = rc::kNotSeenAgain;
    const struct {
        const UpgradeHistoryRecord* Left;
        F Finding;
        int Code;  // 0: no record added
    } amendments[] = {
        {&cut, F::Upgraded, rc::kReturnedLate},
        {&cut, F::OldFirmware, rc::kOldFirmwareStill},
        {&cut, F::NotConfirmed, 0},
        {&lost, F::Upgraded, rc::kReturnedLate},
        {&lost, F::OldFirmware, 0},
        {&lost, F::NotConfirmed, 0},
    };
    for (const auto& a : amendments) {
        const std::optional<UpgradeHistoryRecord> r =
            AmendedRecord(*a.Left, {a.Finding, "2.0.0"}, 99);
        EXPECT_EQ(r ? r->Code : 0, a.Code) << a.Left->Code << " " << static_cast<int>(a.Finding);
        if (r) {
            EXPECT_EQ(r->VersionAfter, "2.0.0");
        }
    }
}

}  // namespace
