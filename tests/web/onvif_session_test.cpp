// The ONVIF device service client: the messages it builds and reads, and logging in to
// simulated cameras by HTTP Digest and by WS-UsernameToken, clocks far off included.
#include <gtest/gtest.h>

#include <chrono>

#include "base/result_codes.h"
#include "support/devsim_process.h"
#include "support/web_test_support.h"
#include "web/onvif_identification.h"
#include "web/soap_envelope.h"
#include "web/ws_security.h"

namespace {

TEST(WsSecurityTest, DigestAndTimesAreWhatDevicesRecompute) {
    std::string nonce;
    for (char c = 0; c < 16; ++c) nonce += c;
    // Base64(SHA-1(nonce + created + password)), as worked out by hand.
    EXPECT_EQ(PasswordDigest(nonce, "2026-12-09T01:02:03Z", "vqmtz"),
              "G5VA17j14bsFGP1Zr0xnWj4uYmE=");
    const struct {
        int64_t Seconds;
        const char* Text;
    } times[] = {{0, "1970-01-01T00:00:00Z"},
                 {951868799, "2000-02-29T23:59:59Z"},
                 {1796778123, "2026-12-09T01:02:03Z"},
                 {-1, "1969-12-31T23:59:59Z"}};
    for (const auto& t : times) EXPECT_EQ(XsDateTimeUtc(t.Seconds), t.Text);

    const UsernameToken token = MakeUsernameToken("admin", "vqmtz", 1796778123);
    EXPECT_EQ(token.Created, "2026-12-09T01:02:03Z");
    EXPECT_EQ(token.Nonce.size(), 24u);  // 16 bytes
    EXPECT_NE(token.Nonce, MakeUsernameToken("admin", "vqmtz", 1796778123).Nonce);

    SoapAnswer answer;
    ASSERT_TRUE(ParseSoapAnswer(BuildSoapRequest("GetDeviceInformation", &token), answer));
    EXPECT_EQ(std::string(answer.Payload.name()), "tds:GetDeviceInformation");
}

TEST(SoapEnvelopeTest, AnswersFaultsAndWhatIsNoAnswer) {
    const std::string head =
        "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:ter=\"http://www.onvif.org/ver10/error\"><e:Body>";
    const std::string tail = "</e:Body></e:Envelope>";
    auto fault = [&](const std::string& subcodes) {
        return head + "<e:Fault><e:Code><e:Value>e:Sender</e:Value>" + subcodes +
               "</e:Code><e:Reason><e:Text>no</e:Text></e:Reason></e:Fault>" + tail;
    };
    const struct {
        const char* Name;
        std::string Text;
        bool Parsed;
        bool Fault;
        bool NotAuthorized;
    } cases[] = {
        {"answer", head + "<x:GetDeviceInformationResponse xmlns:x=\"urn:x\"/>" + tail, true, false,
         false},
        {"not authorized", fault("<e:Subcode><e:Value>ter:NotAuthorized</e:Value></e:Subcode>"),
         true, true, true},
        {"nested subcode",
         fault("<e:Subcode><e:Value>ter:Other</e:Value><e:Subcode><e:Value>ter:FailedAuthentication"
               "</e:Value></e:Subcode></e:Subcode>"),
         true, true, true},
        {"other fault", fault("<e:Subcode><e:Value>ter:ActionNotSupported</e:Value></e:Subcode>"),
         true, true, false},
        {"empty body", head + tail, false, false, false},
        {"SOAP 1.1",
         "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><a/></e:Body>"
         "</e:Envelope>",
         false, false, false},
        {"HTML", "<html><body>401</body></html>", false, false, false},
        {"truncated", head + "<a>", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SoapAnswer answer;
        EXPECT_EQ(ParseSoapAnswer(c.Text, answer), c.Parsed);
        if (!c.Parsed) continue;
        EXPECT_EQ(answer.IsFault, c.Fault);
        EXPECT_EQ(IsNotAuthorized(answer), c.NotAuthorized);
        EXPECT_EQ(!answer.Payload, c.Fault);
    }
}

std::string ServiceAddress(const DevsimProcess::Device& device) {
    return "http://127.0.0.1:" + std::to_string(device.HttpPort) + "/onvif/device_service";
}

TEST(OnvifIdentificationTest, LogsInTheWayEachCameraAsksAndWithItsClock) {
    ClearProxyEnvironment();
    const std::string common =
        "protocol=onvif,vendor=Acme,model=IPC-5,firmware=3.1.0,mac=00:1a:2b:3c:4d:5e";
    DevsimProcess sim({"--device", "id=DIGEST,auth=digest," + common,  //
                       "--device", "id=TOKEN,auth=token," + common,    //
                       "--device", "id=AHEAD,auth=token,clock_skew_s=14400," + common, "--device",
                       "id=BEHIND,auth=token,clock_skew_s=-14400," + common, "--device",
                       "id=SLIGHT,auth=token,clock_skew_s=200," + common});
    const struct {
        const char* Id;
        const char* Password;
        int Result;
        const char* Auth;  // how GetDeviceInformation went through
        OnvifAuth Settled;
        int64_t Offset;
    } cases[] = {
        {"DIGEST", "vqmtz", rc::kOk, "digest", OnvifAuth::Digest, 0},
        {"TOKEN", "vqmtz", rc::kOk, "token", OnvifAuth::UsernameToken, 0},
        {"AHEAD", "vqmtz", rc::kOk, "token", OnvifAuth::UsernameToken, 14400},
        {"BEHIND", "vqmtz", rc::kOk, "token", OnvifAuth::UsernameToken, -14400},
        {"SLIGHT", "vqmtz", rc::kOk, "token", OnvifAuth::UsernameToken, 200},
        {"DIGEST", "wrong", rc::kLoginRefused, "digest", OnvifAuth::Unknown, 0},
        {"AHEAD", "wrong", rc::kLoginRefused, "token", OnvifAuth::Unknown, 14400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Id) + " " + c.Password);
        OnvifIdentity identity;
        const std::string address = ServiceAddress(sim.DeviceById(c.Id));
        EXPECT_EQ(IdentifyOnvifDevice({address}, "admin", c.Password, 2000, identity), c.Result);
        // The camera's own account of the request that settled it.
        EXPECT_NE(sim.NextLineWith(std::string("op=GetDeviceInformation auth=") + c.Auth +
                                   (c.Result == rc::kOk ? " verdict=ok" : " verdict=refused")),
                  "");
        if (c.Result != rc::kOk) continue;
        EXPECT_EQ(identity.Info.Manufacturer, "Acme");
        EXPECT_EQ(identity.Info.Model, "IPC-5");
        EXPECT_EQ(identity.Info.FirmwareVersion, "3.1.0");
        EXPECT_EQ(identity.Info.SerialNumber, std::string("SN-") + c.Id);
        EXPECT_EQ(identity.Mac, "00:1A:2B:3C:4D:5E");
        EXPECT_EQ(identity.ServiceAddress, address);
        EXPECT_EQ(identity.Auth, c.Settled);
        EXPECT_NEAR(static_cast<double>(identity.ClockOffsetSeconds), c.Offset, 5);
    }
}

TEST(OnvifIdentificationTest, DeadAddressesAreSkippedAndNoAnswerIsANetworkFault) {
    ClearProxyEnvironment();
    DevsimProcess sim({"--device", "id=CAM,protocol=onvif,auth=digest,model=IPC-5"});
    const std::string dead = "http://127.0.0.1:1/onvif/device_service";
    const std::string alive = ServiceAddress(sim.DeviceById("CAM"));

    OnvifIdentity identity;
    EXPECT_EQ(IdentifyOnvifDevice({dead, alive}, "admin", "vqmtz", 2000, identity), rc::kOk);
    EXPECT_EQ(identity.ServiceAddress, alive);

    CIPCamInfo record;
    record.ServiceAddresses = {dead, alive};
    ApplyOnvifIdentity(identity, record);
    EXPECT_EQ(record.ServiceAddresses, (std::vector<std::string>{alive, dead}));
    EXPECT_EQ(record.HostAddress, "127.0.0.1");
    EXPECT_EQ(record.HttpPort, sim.DeviceById("CAM").HttpPort);
    EXPECT_EQ(record.ModelName, "Quorlent IPC-5");  // devsim's default vendor, then the model

    EXPECT_EQ(IdentifyOnvifDevice({dead}, "admin", "vqmtz", 2000, identity), rc::kCannotConnect);
}

// A camera that answers a byte a second holds an identification no longer than its
// deadline, and none at all once it is cancelled.
TEST(OnvifIdentificationTest, BoundsEndATricklingCamera) {
    ClearProxyEnvironment();
    DevsimProcess sim({"--device", "id=CAM,protocol=onvif,auth=digest,fault=rate_limit:1"});
    const std::string address = ServiceAddress(sim.DeviceById("CAM"));
    const auto now = [] { return std::chrono::steady_clock::now(); };
    const struct {
        const char* Name;
        std::chrono::milliseconds Deadline;
        bool Cancel;
        int Result;
    } cases[] = {{"deadline", std::chrono::milliseconds(1500), false, rc::kTimeout},
                 {"cancelled", std::chrono::milliseconds(60000), true, rc::kCancelled}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto start = now();
        OnvifBounds bounds;
        bounds.Deadline = start + c.Deadline;
        bounds.Cancelled = [&] {
            return c.Cancel && now() - start > std::chrono::milliseconds(300);
        };
        OnvifIdentity identity;
        EXPECT_EQ(
            IdentifyOnvifDevice({address, address}, "admin", "vqmtz", 10000, identity, bounds),
            c.Result);
        // libcurl looks at a stop at least once a second.
        EXPECT_LT(now() - start, std::chrono::milliseconds(c.Cancel ? 1500 : 2500));
    }
}

TEST(OnvifIdentificationTest, ModelNameCarriesTheMakerOnce) {
    EXPECT_EQ(OnvifModelName("Acme", "IPC-5"), "Acme IPC-5");
    EXPECT_EQ(OnvifModelName("Acme", "ACME IPC-5"), "ACME IPC-5");
    EXPECT_EQ(OnvifModelName("", "IPC-5"), "IPC-5");
}

}  // namespace
