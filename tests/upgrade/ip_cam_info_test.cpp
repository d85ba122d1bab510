#include "device/ip_cam_info.h"

#include <gtest/gtest.h>

namespace {

CIPCamInfo FilledRecord() {
    CIPCamInfo r;
    r.LeadWord = 7;
    r.DeviceName = "Lobby";
    r.ProductModel = "NVR-1600";
    r.ModelName = "NVR-1600 Pro";
    r.VendorName = "Quorlent";
    r.FirmwareVersion = "1.2.3";
    r.DeviceId = "QX0001";
    r.Text7 = "t7";
    r.HostAddress = "10.0.0.5";
    r.Text9 = "t9";
    r.Text12 = "t12";
    r.UserName = "admin";
    r.Password = "secret";
    r.HttpFlag = 1;
    r.HttpsFlag = 1;
    r.HttpPort = 8080;
    r.HttpsPort = 8443;
    r.DiscoveryFlag = 0;
    r.LastSeen = {45000.5, OleDateTime::kValid};
    r.Detail.Command = 111;
    r.RawReply.Length = 256;
    r.RawReply.Bytes[3] = 9;
    r.Pinned = 1;
    r.Text13 = "t13";
    r.Checked = 0;
    r.NvrLoginPending = 1;
    r.ApiVersion = "V1";
    r.LatestFirmwareFile = "/store/a.bin";
    r.LatestFirmwareVersion = "2.0";
    r.SeenCount = 4;
    r.LoginOk = 1;
    r.DiscoveryKind = 1;
    r.CheckDone = 1;
    r.MacAddress = "00:1C:A1:00:00:05";
    return r;
}

TEST(CIPCamInfoTest, NewRecordHasTheDefaults) {
    CIPCamInfo r;
    EXPECT_TRUE(r.DeviceName.empty() && r.DeviceId.empty() && r.Password.empty());
    EXPECT_EQ(r.HttpPort, 80);
    EXPECT_EQ(r.HttpsPort, 443);
    EXPECT_EQ(r.HttpsFlag, 0);
    EXPECT_EQ(r.Checked, 1);
    EXPECT_EQ(r.DiscoveryFlag, 1);
    EXPECT_EQ(r.Detail.HttpPort, 80u);
    EXPECT_EQ(r.Detail.HttpsPort, 443u);
    EXPECT_EQ(r.GetScheme(), "http");
    EXPECT_EQ(r.GetPort(), 80);
}

TEST(CIPCamInfoTest, ResetClearsIdentityButKeepsVendorAndDiscoveryAreas) {
    CIPCamInfo r = FilledRecord();
    r.Reset();
    EXPECT_EQ(r.VendorName, "Quorlent");
    EXPECT_TRUE(r.DeviceName.empty() && r.ProductModel.empty() && r.ModelName.empty());
    EXPECT_TRUE(r.FirmwareVersion.empty() && r.HostAddress.empty() && r.Text12.empty());
    EXPECT_TRUE(r.UserName.empty() && r.Password.empty() && r.MacAddress.empty());
    EXPECT_EQ(r.HttpPort, 80);
    EXPECT_EQ(r.HttpsPort, 443);
    EXPECT_EQ(r.HttpFlag, 0);
    EXPECT_EQ(r.HttpsFlag, 0);
    EXPECT_EQ(r.Checked, 1);
    EXPECT_EQ(r.DiscoveryFlag, 1);
    EXPECT_EQ(r.Detail.Command, 111);
    EXPECT_EQ(r.RawReply.Bytes[3], 9);
    EXPECT_EQ(r.Text13, "t13");
}

TEST(CIPCamInfoTest, CopyIsIndependent) {
    CIPCamInfo a = FilledRecord();
    CIPCamInfo b = a;
    b.Password = "changed";
    b.RawReply.Bytes[3] = 1;
    EXPECT_EQ(a.Password, "secret");
    EXPECT_EQ(a.RawReply.Bytes[3], 9);
    EXPECT_EQ(b.LatestFirmwareFile, "/store/a.bin");
    EXPECT_EQ(b.CheckDone, 1);
}

TEST(CIPCamInfoTest, UpdateFromCopiesOnlyTheListedFields) {
    const CIPCamInfo source = FilledRecord();
    CIPCamInfo target;
    target.Checked = 5;
    target.SeenCount = 2;
    target.LatestFirmwareFile = "/store/keep.bin";
    target.NvrLoginPending = 0;
    target.CheckDone = 0;
    target.LeadWord = 3;
    target.DiscoveryFlag = 1;
    target.Detail.Command = 0;
    target.RawReply.Length = 0;

    target.UpdateFrom(source);

    // Copied.
    EXPECT_EQ(target.DeviceName, "Lobby");
    EXPECT_EQ(target.ProductModel, "NVR-1600");
    EXPECT_EQ(target.ModelName, "NVR-1600 Pro");
    EXPECT_EQ(target.VendorName, "Quorlent");
    EXPECT_EQ(target.FirmwareVersion, "1.2.3");
    EXPECT_EQ(target.DeviceId, "QX0001");
    EXPECT_EQ(target.Text7, "t7");
    EXPECT_EQ(target.HostAddress, "10.0.0.5");
    EXPECT_EQ(target.Text9, "t9");
    EXPECT_EQ(target.Text12, "t12");
    EXPECT_EQ(target.UserName, "admin");
    EXPECT_EQ(target.Password, "secret");
    EXPECT_EQ(target.HttpFlag, 1);
    EXPECT_EQ(target.HttpsFlag, 1);
    EXPECT_EQ(target.HttpPort, 8080);
    EXPECT_EQ(target.HttpsPort, 8443);
    EXPECT_EQ(target.LatestFirmwareVersion, "2.0");
    EXPECT_EQ(target.Text13, "t13");
    EXPECT_DOUBLE_EQ(target.LastSeen.Days, 45000.5);
    EXPECT_EQ(target.Pinned, 1);
    EXPECT_EQ(target.LoginOk, 1);
    EXPECT_EQ(target.ApiVersion, "V1");
    EXPECT_EQ(target.DiscoveryKind, 1);
    EXPECT_EQ(target.MacAddress, "00:1C:A1:00:00:05");  // the history names the device by it
    // Kept.
    EXPECT_EQ(target.Checked, 5);
    EXPECT_EQ(target.SeenCount, 2);
    EXPECT_EQ(target.LatestFirmwareFile, "/store/keep.bin");
    EXPECT_EQ(target.NvrLoginPending, 0);
    EXPECT_EQ(target.CheckDone, 0);
    EXPECT_EQ(target.LeadWord, 3);
    EXPECT_EQ(target.DiscoveryFlag, 1);
    EXPECT_EQ(target.Detail.Command, 0);
    EXPECT_EQ(target.RawReply.Length, 0u);
}

TEST(CIPCamInfoTest, SetAddressFromUrl) {
    CIPCamInfo https;
    ASSERT_TRUE(https.SetAddressFromUrl("https://10.0.0.5:8443"));
    EXPECT_EQ(https.HttpsFlag, 1);
    EXPECT_EQ(https.HttpFlag, 0);
    EXPECT_EQ(https.HostAddress, "10.0.0.5");
    EXPECT_EQ(https.HttpsPort, 8443);
    EXPECT_EQ(https.HttpPort, 80);
    EXPECT_EQ(https.GetScheme(), "https");
    EXPECT_EQ(https.GetPort(), 8443);

    CIPCamInfo http;
    http.HttpPort = 1234;
    ASSERT_TRUE(http.SetAddressFromUrl("http://192.168.1.20/"));
    EXPECT_EQ(http.HttpFlag, 1);
    EXPECT_EQ(http.HttpsFlag, 0);
    EXPECT_EQ(http.HostAddress, "192.168.1.20");
    EXPECT_EQ(http.HttpPort, 80);
    EXPECT_EQ(http.HttpsPort, 443);

    CIPCamInfo bare = FilledRecord();
    EXPECT_FALSE(bare.SetAddressFromUrl("10.0.0.5"));
    EXPECT_FALSE(bare.SetAddressFromUrl("ftp://10.0.0.5:21"));
    EXPECT_FALSE(bare.SetAddressFromUrl(""));
    EXPECT_EQ(bare.HostAddress, "10.0.0.5");
    EXPECT_EQ(bare.HttpPort, 8080);
    EXPECT_EQ(bare.HttpsFlag, 1);

    // A number no port can have is no port, not its low bits (4294967376 is 2^32 + 80).
    for (const char* url : {"http://10.0.0.7:4294967376", "http://10.0.0.7:65536",
                            "http://10.0.0.7:18446744073709551696"}) {
        CIPCamInfo wrapped;
        ASSERT_TRUE(wrapped.SetAddressFromUrl(url));
        EXPECT_EQ(wrapped.HttpPort, 0) << url;
    }

    CIPCamInfo longer;
    ASSERT_TRUE(longer.SetAddressFromUrl("httpsx://10.0.0.6:8443"));
    EXPECT_EQ(longer.HttpsFlag, 0);
    EXPECT_EQ(longer.HttpFlag, 1);
    EXPECT_EQ(longer.HttpPort, 8443);
    EXPECT_EQ(longer.HttpsPort, 443);
    EXPECT_EQ(longer.GetScheme(), "http");
}

TEST(CIPCamInfoTest, OnlyHttpsFlagOneSelectsHttps) {
    CIPCamInfo r;
    r.HttpPort = 81;
    r.HttpsPort = 444;
    r.HttpsFlag = 2;
    EXPECT_EQ(r.GetScheme(), "http");
    EXPECT_EQ(r.GetPort(), 81);
}

TEST(CIPCamInfoTest, LastSeenCountsDaysFrom30December1899) {
    EXPECT_DOUBLE_EQ(OleDaysFromCivil(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(OleDaysFromCivil(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_DOUBLE_EQ(OleDaysFromCivil(2000, 1, 1, 12, 0, 0), 36526.5);

    CIPCamInfo r;
    r.LastSeen.Status = OleDateTime::kInvalid;
    r.StampLastSeen();
    EXPECT_EQ(r.LastSeen.Status, OleDateTime::kValid);
    EXPECT_GT(r.LastSeen.Days, OleDaysFromCivil(2020, 1, 1, 0, 0, 0));
}

}  // namespace
