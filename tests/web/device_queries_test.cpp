// Model query, log-in check and configuration-page address against simulated devices.
#include <gtest/gtest.h>
#include <memory>

#include "base/result_codes.h"
#include "base/text.h"
#include "raw_http_server.h"
#include "support/devsim_process.h"
#include "support/web_test_support.h"
#include "web/clfx_quor_client.h"
#include "web/device_queries.h"
#include "web/http_base.h"

namespace {

const std::string kOddPassword = "p&=+%# x";

class DeviceQueriesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ClearProxyEnvironment();
        sim_ = new DevsimProcess({
            "--device", "id=nvr,product_model=NVR-1600 ",                         //
            "--device", "id=lastline,product_model=NVR-8,fault=model_last_line",  //
            "--device", "id=crlf,product_model=NVR-4,fault=crlf_lines",           //
            "--device", "id=odd,user=ad min,password=" + kOddPassword,            //
            "--device", "id=page,fault=login_answer_200",                         //
            "--device", "id=refusing,fault=refuse_credentials",                   //
        });
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }

    static CIPCamInfo Record(const std::string& id, const std::string& password = "vqmtz") {
        CIPCamInfo cam;
        cam.HostAddress = "127.0.0.1";
        cam.HttpPort = sim_->DeviceById(id).HttpPort;
        cam.HttpsPort = sim_->DeviceById(id).HttpsPort;
        cam.UserName = "admin";
        cam.Password = password;
        return cam;
    }

    static DevsimProcess* sim_;
};

DevsimProcess* DeviceQueriesTest::sim_ = nullptr;

TEST_F(DeviceQueriesTest, ModelIsTakenFromItsLineAndTrimmed) {
    for (const auto& [id, expected] : std::vector<std::pair<std::string, std::string>>{
             {"nvr", "NVR-1600"}, {"lastline", "NVR-8"}, {"crlf", "NVR-4"}}) {
        CIPCamInfo cam = Record(id);
        std::string api;
        std::string model;
        EXPECT_EQ(QueryNvrModel(cam, api, model), 0) << id;
        EXPECT_EQ(model, expected) << id;
        EXPECT_EQ(cam.ProductModel, expected) << id;
        EXPECT_EQ(api, "V1");
    }

    // Over HTTPS at the HTTPS port when the record says so.
    CIPCamInfo secure = Record("nvr");
    secure.HttpsFlag = 1;
    secure.HttpPort = ClosedPort();
    std::string api = "V2";
    std::string model;
    EXPECT_EQ(QueryNvrModel(secure, api, model), 0);
    EXPECT_EQ(model, "NVR-1600");
    EXPECT_EQ(api, "V2");
}

TEST_F(DeviceQueriesTest, ModelQueryFailuresLeaveTheRecordAlone) {
    CIPCamInfo cam = Record("nvr", "wrong");
    cam.ProductModel = "before";
    std::string api;
    std::string model = "before";
    EXPECT_EQ(QueryNvrModel(cam, api, model), rc::kHttpUnauthorized);
    EXPECT_EQ(api, "V1");

    RawHttpServer noMarker([](const RawHttpServer::Request&) {
        return RawHttpServer::Answer(200, "OK", {}, "nvr.system.product.name=Box\n");
    });
    cam.HttpPort = noMarker.Port();
    EXPECT_EQ(QueryNvrModel(cam, api, model), rc::kFailed);
    EXPECT_EQ(model, "before");
    EXPECT_EQ(cam.ProductModel, "before");
}

TEST_F(DeviceQueriesTest, AnswersHeldInMemoryEndAtTheirSizeCap) {
    // What a device sends first would pass; the endless rest must not be held.
    const std::string huge = "nvr.system.product.model=Big\nindex.htm\n" +
                             std::string(CLFX::CLFXQuorClient::kReplyLimit + 1, 'x');
    // One server per request: the test server serves one connection at a time, and a client
    // that stopped reading may keep its connection open a while.
    const auto endless = [&] {
        return std::make_unique<RawHttpServer>([&](const RawHttpServer::Request&) {
            return RawHttpServer::Answer(200, "OK", {}, huge);
        });
    };
    auto forModel = endless();
    CIPCamInfo cam;
    cam.HostAddress = "127.0.0.1";
    cam.HttpPort = forModel->Port();
    std::string api;
    std::string model = "before";
    EXPECT_EQ(QueryNvrModel(cam, api, model), rc::kAnswerTooLarge);
    EXPECT_EQ(model, "before");

    CLFX::CLFXQuorClient client;
    client.SetTimeout(2000);
    auto forSession = endless();
    client.Connect("127.0.0.1", forSession->Port());
    std::string reply = "before";
    EXPECT_EQ(client.Request("POST", "/login.cgi/cgi_main.cgi?", "a=b", reply, "", ""),
              rc::kAnswerTooLarge);
    EXPECT_TRUE(reply.empty());
    auto forLogin = endless();
    cam.HttpPort = forLogin->Port();
    EXPECT_EQ(CheckNvrLogin(cam, "admin", "vqmtz"), rc::kLoginRefused);

    // Every text sink has a cap (the catalogue's is larger); the target keeps its text.
    CHTTPBase small(1000);
    std::string text = "kept";
    auto forText = endless();
    EXPECT_EQ(FetchText(small, "", "", "http://127.0.0.1:" + std::to_string(forText->Port()) + "/",
                        2000, text),
              rc::kAnswerTooLarge);
    EXPECT_EQ(text, "kept");
}

TEST_F(DeviceQueriesTest, LoginIsJudgedByRedirectTargetOrPageBody) {
    for (const std::string id : {"nvr", "page", "nvr https"}) {
        const bool https = id == "nvr https";
        CIPCamInfo cam = Record(https ? "nvr" : id, "old");
        // A device reached over HTTPS gets the log-in form inside TLS.
        cam.HttpsFlag = https ? 1 : 0;
        EXPECT_EQ(CheckNvrLogin(cam, "admin", "wrong"), rc::kLoginRefused) << id;
        EXPECT_EQ(cam.LoginOk, 0);
        EXPECT_EQ(cam.Password, "old");
        EXPECT_EQ(CheckNvrLogin(cam, "admin", "vqmtz"), 0) << id;
        EXPECT_EQ(cam.LoginOk, 1);
        EXPECT_EQ(cam.UserName, "admin");
        EXPECT_EQ(cam.Password, "vqmtz");
    }
    CIPCamInfo refusing = Record("refusing");
    EXPECT_EQ(CheckNvrLogin(refusing, "admin", "vqmtz"), rc::kLoginRefused);
    CIPCamInfo gone = Record("nvr");
    gone.HttpPort = ClosedPort();
    gone.LoginOk = 1;
    EXPECT_EQ(CheckNvrLogin(gone, "admin", "vqmtz"), rc::kLoginRefused);
    EXPECT_EQ(gone.LoginOk, 0);
}

TEST_F(DeviceQueriesTest, PasswordsWithFormCharactersLogInAsTyped) {
    CIPCamInfo cam = Record("odd");
    EXPECT_EQ(CheckNvrLogin(cam, "ad min", kOddPassword), 0);
    EXPECT_EQ(CheckNvrLogin(cam, "ad min", "p"), rc::kLoginRefused);

    // The browser address carries the same credentials to the same device.
    const std::string url = BuildLoginPageUrl(cam);
    const std::string prefix = "http://127.0.0.1:" + std::to_string(cam.HttpPort);
    ASSERT_TRUE(StartsWith(url, prefix + "/"));
    CLFX::CLFXQuorClient client;
    client.SetTimeout(2000);
    client.Connect("127.0.0.1", cam.HttpPort);
    std::string reply;
    EXPECT_EQ(client.Request("GET", url.substr(prefix.size()), "", reply, "", ""), 302);
    EXPECT_EQ(reply, "/cfg_system_info.htm");
}

TEST(SystemListTest, MacAddressIsItsLineUpToACommaAndTrimmed) {
    const struct {
        const char* List;
        const char* Mac;
    } cases[] = {
        {"root.system.product.mac.address=00:1C:A1:00:00:07\n", "00:1C:A1:00:00:07"},
        {"nvr.system.product.mac.address= 00:1c:a1:00:00:07\r\nnext=1\r\n", "00:1c:a1:00:00:07"},
        {"root.system.product.mac.address=00:1C:A1:00:00:07,00:1C:A1:00:00:08\n",
         "00:1C:A1:00:00:07"},
        {"root.system.product.mac.address=", ""},
        {"root.system.product.model=KT-710R\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(MacAddressIn(c.List), c.Mac) << c.List;
}

TEST(LoginPageUrlTest, PlainAndEscapedCredentials) {
    CIPCamInfo cam;
    cam.HostAddress = "10.0.0.5";
    cam.UserName = "admin";
    cam.Password = "vqmtz42";
    EXPECT_EQ(BuildLoginPageUrl(cam),
              "http://10.0.0.5:80/login.cgi/cgi_main.cgi?cgiName=login.cgi&page=%2F"
              "cfg_system_info.htm&action=cms&userName=admin&userPasswd=vqmtz42"
              "&clientName=Strelvane");
    cam.HttpsFlag = 1;
    cam.HttpsPort = 8443;
    cam.Password = "a&b c";
    EXPECT_EQ(BuildLoginPageUrl(cam),
              "https://10.0.0.5:8443/login.cgi/cgi_main.cgi?cgiName=login.cgi&page=%2F"
              "cfg_system_info.htm&action=cms&userName=admin&userPasswd=a%26b%20c"
              "&clientName=Strelvane");
    EXPECT_EQ(BuildLoginPageUrl("10.0.0.6", "8080", "admin", "#", false),
              "http://10.0.0.6:8080/login.cgi/cgi_main.cgi?cgiName=login.cgi&page=%2F"
              "cfg_system_info.htm&action=cms&userName=admin&userPasswd=%23"
              "&clientName=Strelvane");
}

}  // namespace
