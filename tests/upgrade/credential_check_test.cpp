// The credential check against simulated devices: its outcomes, what it stores in the
// record, and the threads that run it for the devices of the device table.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "registry/credential_check.h"
#include "support/devsim_process.h"
#include "support/recording_page.h"
#include "support/web_test_support.h"

namespace {

using namespace std::chrono_literals;

CIPCamInfo RecordOf(const std::string& id, int port, const std::string& password = "vqmtz") {
    CIPCamInfo r;
    r.DeviceId = id;
    r.HostAddress = "127.0.0.1";
    r.HttpPort = port;
    r.UserName = "admin";
    r.Password = password;
    return r;
}

class CredentialCheckTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    DevsimProcess sim_{{"--device", "id=good,firmware=1.2.3,mac=00:1C:A1:00:00:01", "--device",
                        "id=picky,password=secret,firmware=7.0", "--device",
                        "id=crlf,firmware=4.5,fault=crlf_lines,mac=00:1C:A1:00:00:03", "--device",
                        "id=slow,fault=delay:300"}};
    int Port(const std::string& id) { return sim_.DeviceById(id).HttpPort; }
};

TEST_F(CredentialCheckTest, OutcomesAndWhatTheRecordKeeps) {
    CIPCamInfo blank = RecordOf("good", Port("good"), "");
    blank.UserName.clear();
    EXPECT_EQ(CheckCredentials(blank), CheckOutcome::Passed);
    EXPECT_EQ(blank.UserName, "admin");
    EXPECT_EQ(blank.Password, "vqmtz");
    EXPECT_EQ(blank.LoginOk, 1);
    EXPECT_EQ(blank.FirmwareVersion, "1.2.3");
    EXPECT_EQ(blank.MacAddress, "00:1C:A1:00:00:01");

    // A refusal is an answer: the device is reachable, the log-in failed.
    CIPCamInfo refused = RecordOf("picky", Port("picky"));
    refused.FirmwareVersion = "old";
    EXPECT_EQ(CheckCredentials(refused), CheckOutcome::Failed);
    EXPECT_EQ(refused.LoginOk, 0);
    EXPECT_EQ(refused.FirmwareVersion, "old");

    // A newly typed password is tried with the NVR log-in, once.
    CIPCamInfo typed = RecordOf("picky", Port("picky"));
    typed.NvrLoginPending = 1;
    EXPECT_EQ(CheckCredentials(typed), CheckOutcome::NvrLoginFailed);
    EXPECT_EQ(typed.NvrLoginPending, 0);
    typed = RecordOf("picky", Port("picky"), "secret");
    typed.NvrLoginPending = 1;
    EXPECT_EQ(CheckCredentials(typed), CheckOutcome::Passed);
    EXPECT_EQ(typed.NvrLoginPending, 0);
    EXPECT_EQ(typed.FirmwareVersion, "7.0");

    CIPCamInfo nobody = RecordOf("nobody", ClosedPort());
    EXPECT_EQ(CheckCredentials(nobody), CheckOutcome::Unreachable);
    EXPECT_EQ(nobody.LoginOk, 0);

    CIPCamInfo crlf = RecordOf("crlf", Port("crlf"));
    EXPECT_EQ(CheckCredentials(crlf), CheckOutcome::Passed);
    EXPECT_EQ(crlf.FirmwareVersion, "4.5");
    EXPECT_EQ(crlf.MacAddress, "00:1C:A1:00:00:03");
}

TEST(OnvifCredentialCheckTest, ACameraIsAskedThroughItsDeviceService) {
    ClearProxyEnvironment();
    DevsimProcess sim({"--device",
                       "id=cam,protocol=onvif,auth=token,vendor=Acme,model=IPC-5,firmware=3.1.0,"
                       "mac=00:1a:2b:00:00:05,password=secret"});
    const std::string service =
        "http://127.0.0.1:" + std::to_string(sim.DeviceById("cam").HttpPort) +
        "/onvif/device_service";
    auto camera = [&](const std::string& password, int typed) {
        CIPCamInfo r = RecordOf("urn:uuid:cam", 1, password);
        r.Protocol = DeviceProtocol::Onvif;
        r.HostAddress = "198.18.9.9";  // where discovery put it; the service answers elsewhere
        r.ServiceAddresses = {service};
        r.NvrLoginPending = typed;
        return r;
    };
    const struct {
        const char* Password;
        int Typed;
        CheckOutcome Outcome;
    } cases[] = {
        {"secret", 0, CheckOutcome::Passed},
        {"secret", 1, CheckOutcome::Passed},
        {"vqmtz", 0, CheckOutcome::Failed},
        {"vqmtz", 1, CheckOutcome::NvrLoginFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Password) + (c.Typed ? " typed" : ""));
        CIPCamInfo r = camera(c.Password, c.Typed);
        EXPECT_EQ(CheckCredentials(r), c.Outcome);
        EXPECT_EQ(r.NvrLoginPending, 0);
        const bool passed = c.Outcome == CheckOutcome::Passed;
        EXPECT_EQ(r.LoginOk, passed ? 1 : 0);
        EXPECT_EQ(r.ModelName, passed ? "Acme IPC-5" : "");
        EXPECT_EQ(r.FirmwareVersion, passed ? "3.1.0" : "");
        EXPECT_EQ(r.MacAddress, passed ? "00:1A:2B:00:00:05" : "");
        EXPECT_EQ(r.HostAddress, passed ? "127.0.0.1" : "198.18.9.9");
    }
    CIPCamInfo away = camera("secret", 0);
    away.ServiceAddresses = {"http://127.0.0.1:" + std::to_string(ClosedPort()) +
                             "/onvif/device_service"};
    EXPECT_EQ(CheckCredentials(away), CheckOutcome::Unreachable);
}

class OutcomeLog final : public ICredentialCheckObserver {
public:
    explicit OutcomeLog(CCameraTable& table) : table_(table) {}
    void CredentialCheckEnded(const std::string& deviceId, CheckOutcome outcome) override {
        // The table holds the results by the time the outcome arrives.
        std::optional<CIPCamInfo> record = table_.Find(deviceId);
        std::lock_guard lock(lock_);
        outcomes_[deviceId] = outcome;
        doneWhenTold_[deviceId] = record && record->CheckDone == 1;
    }
    std::map<std::string, CheckOutcome> Outcomes() {
        std::lock_guard lock(lock_);
        return outcomes_;
    }
    bool DoneWhenTold(const std::string& id) {
        std::lock_guard lock(lock_);
        return doneWhenTold_[id];
    }

private:
    CCameraTable& table_;
    std::mutex lock_;
    std::map<std::string, CheckOutcome> outcomes_;
    std::map<std::string, bool> doneWhenTold_;
};

TEST_F(CredentialCheckTest, ChecksRunPerDeviceAndStoreTheirResultsInTheTable) {
    CCameraTable table;
    OutcomeLog log(table);
    for (const char* id : {"good", "picky", "slow"}) table.AddOrUpdate(id, RecordOf(id, Port(id)));
    table.AddOrUpdate("nobody", RecordOf("nobody", ClosedPort()));
    {
        CCredentialChecks checks(table, log);
        EXPECT_FALSE(checks.Start("unknown"));
        for (const char* id : {"good", "picky", "slow", "nobody"}) EXPECT_TRUE(checks.Start(id));
        EXPECT_EQ(table.Find("slow")->CheckDone, 0);
        EXPECT_FALSE(checks.Start("slow")) << "one check per device at a time";
        checks.WaitAll();
        EXPECT_TRUE(checks.Start("good")) << "a new check once the last has ended";
        // The destructor waits for this one.
    }
    EXPECT_EQ(log.Outcomes(),
              (std::map<std::string, CheckOutcome>{{"good", CheckOutcome::Passed},
                                                   {"nobody", CheckOutcome::Unreachable},
                                                   {"picky", CheckOutcome::Failed},
                                                   {"slow", CheckOutcome::Passed}}));
    for (const char* id : {"good", "picky", "slow", "nobody"}) {
        EXPECT_TRUE(log.DoneWhenTold(id)) << id;
        EXPECT_EQ(table.Find(id)->CheckDone, 1) << id;
    }
    EXPECT_EQ(table.Find("good")->FirmwareVersion, "1.2.3");
    EXPECT_EQ(table.Find("good")->MacAddress, "00:1C:A1:00:00:01");
    EXPECT_EQ(table.Find("good")->LoginOk, 1);
    EXPECT_EQ(table.Find("picky")->LoginOk, 0);
}

}  // namespace
