#include "device/ip_cam_info.h"

#include <ctime>

#include "base/text.h"

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromEpoch(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// 1899-12-30 is 25569 days before 1970-01-01.
constexpr int64_t kOleEpochOffsetDays = 25569;

}  // namespace

double OleDaysFromCivil(int year, int month, int day, int hour, int minute, int second) {
    int64_t days = DaysFromEpoch(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                   kOleEpochOffsetDays;
    return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

CIPCamInfo::CIPCamInfo() { Reset(); }

void CIPCamInfo::Reset() {
    DiscoveryFlag = 1;
    Checked = 1;
    DeviceName.clear();
    ProductModel.clear();
    ModelName.clear();
    for (std::string* text : {&FirmwareVersion, &DeviceId, &Text7, &HostAddress, &Text9, &Text10,
                              &Text11, &Text12, &UserName, &Password, &MacAddress}) {
        text->clear();
    }
    HttpFlag = 0;
    HttpsFlag = 0;
    HttpPort = 80;
    HttpsPort = 443;
}

void CIPCamInfo::UpdateFrom(const CIPCamInfo& other) {
    DeviceName = other.DeviceName;
    ProductModel = other.ProductModel;
    ModelName = other.ModelName;
    VendorName = other.VendorName;
    FirmwareVersion = other.FirmwareVersion;
    DeviceId = other.DeviceId;
    Text7 = other.Text7;
    HostAddress = other.HostAddress;
    Text9 = other.Text9;
    Text10 = other.Text10;
    Text11 = other.Text11;
    Text12 = other.Text12;
    UserName = other.UserName;
    Password = other.Password;
    HttpFlag = other.HttpFlag;
    HttpsFlag = other.HttpsFlag;
    HttpPort = other.HttpPort;
    HttpsPort = other.HttpsPort;
    LatestFirmwareVersion = other.LatestFirmwareVersion;
    Text13 = other.Text13;
    LastSeen = other.LastSeen;
    Pinned = other.Pinned;
    LoginOk = other.LoginOk;
    ApiVersion = other.ApiVersion;
    DiscoveryKind = other.DiscoveryKind;
    MacAddress = other.MacAddress;
    Protocol = other.Protocol;
    ServiceAddresses = other.ServiceAddresses;
    SerialNumber = other.SerialNumber;
}

void CIPCamInfo::SetLatestFirmware(const std::string& file, const std::string& version) {
    LatestFirmwareFile = file;
    LatestFirmwareVersion = version;
}

void CIPCamInfo::StampLastSeen() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) {
        LastSeen.Status = OleDateTime::kInvalid;
        return;
    }
    LastSeen.Days = OleDaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec);
    LastSeen.Status = OleDateTime::kValid;
}

bool CIPCamInfo::SetAddressFromUrl(const std::string& text) {
    std::vector<std::string> tokens = SplitAny(text, ":/");
    if (tokens.empty() || !StartsWith(tokens[0], "http")) return false;
    HttpsPort = 443;
    HttpPort = 80;
    const bool https = tokens[0] == "https";
    HttpFlag = https ? 0 : 1;
    HttpsFlag = https ? 1 : 0;
    HostAddress = tokens.size() > 1 ? tokens[1] : std::string();
    if (tokens.size() > 2) {
        // A number no port can have is no port (0), rather than its low bits.
        const int64_t port = ParseDecimal(tokens[2]);
        (https ? HttpsPort : HttpPort) =
            port >= 0 && port <= 65535 ? static_cast<int32_t>(port) : 0;
    }
    return true;
}
