#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_protocol.h"

// A date-time as days since 30 December 1899 (fraction = time of day), with a status:
// 0 valid, 1 invalid.
struct OleDateTime {
    static constexpr int32_t kValid = 0;
    static constexpr int32_t kInvalid = 1;

    double Days = 0.0;
    int32_t Status = kValid;
};

// Converts a broken-down local time to days since 30 December 1899.
double OleDaysFromCivil(int year, int month, int day, int hour, int minute, int second);

// The device's network details as the discovery protocol reports them. Zero in a new
// record except for the port block; copied byte for byte with the record.
struct DiscoveryDetail {
    std::array<char, 16> Name{};        // reply offset 0
    std::array<char, 16> Identifier{};  // reply offset 34
    std::array<char, 32> Vendor{};      // reply offset 70
    uint16_t Command = 0;               // reply offset 32
    uint16_t Value52 = 0;               // reply offset 52
    std::array<char, 32> MyIp{};        // "MyIP=" followed by the address text
    uint32_t FoundMarker = 0;           // 1 once filled from a reply
    uint32_t KindMarker = 0;            // 4 once filled from a reply
    uint32_t ModelCategory = 0;         // 2 "RX-", 3 "ZD-", 1 any other model
    uint32_t HttpPort = 80;             // port block
    uint32_t HttpsPort = 443;
};

// The last raw discovery reply, kept after its length word.
struct DiscoveryReply {
    static constexpr size_t kCapacity = 524;
    uint32_t Length = 0;
    std::array<uint8_t, kCapacity> Bytes{};
};

// The record that describes one device everywhere in the program: discovery creates
// it, the device table keeps one per device identifier, the identification queries
// complete it and the upgrade reads address, credentials and model from it. A plain
// value: copied freely, never shared across threads except through the device table.
class CIPCamInfo {
public:
    CIPCamInfo();

    // Back to an undiscovered device: empties the identity and credential texts and
    // restores the default ports. VendorName and the discovery areas stay.
    void Reset();

    // Fills a freshly created table record from a reported one (see the .cpp for the
    // exact list); selection, seen count, stored image path, pending NVR log-in,
    // check state and the discovery areas keep their values.
    void UpdateFrom(const CIPCamInfo& other);

    std::string GetDeviceName() const { return DeviceName; }
    std::string GetProductModel() const { return ProductModel; }
    std::string GetModelName() const { return ModelName; }
    std::string GetFirmwareVersion() const { return FirmwareVersion; }
    std::string GetDeviceId() const { return DeviceId; }
    std::string GetUserName() const { return UserName; }
    std::string GetPassword() const { return Password; }

    void SetPassword(const std::string& text) { Password = text; }
    void SetLatestFirmware(const std::string& file, const std::string& version);
    void StampLastSeen();

    // Takes "scheme://host[:port]". False, with nothing changed, unless the scheme
    // begins with "http"; only exactly "https" selects HTTPS. A port beyond 65535 is
    // stored as 0.
    bool SetAddressFromUrl(const std::string& text);

    // Every request to the device forms its address from these and HostAddress.
    std::string GetScheme() const { return HttpsFlag == 1 ? "https" : "http"; }
    int32_t GetPort() const { return HttpsFlag == 1 ? HttpsPort : HttpPort; }

    int32_t LeadWord = 0;
    std::string DeviceName;
    std::string ProductModel;
    std::string ModelName;
    std::string VendorName;
    std::string FirmwareVersion;
    std::string DeviceId;
    std::string Text7;
    std::string HostAddress;
    std::string Text9;
    std::string Text10;
    std::string Text11;
    std::string Text12;
    std::string UserName;
    std::string Password;
    uint8_t HttpFlag = 0;
    uint8_t HttpsFlag = 0;
    int32_t HttpPort = 80;
    int32_t HttpsPort = 443;
    uint8_t DiscoveryFlag = 1;
    OleDateTime LastSeen;
    DiscoveryDetail Detail;
    DiscoveryReply RawReply;
    uint8_t Pinned = 0;
    std::string Text13;
    int32_t Checked = 1;
    int32_t NvrLoginPending = 0;
    std::string ApiVersion;
    std::string LatestFirmwareFile;
    std::string LatestFirmwareVersion;
    int32_t SeenCount = 0;
    uint8_t LoginOk = 0;
    int32_t DiscoveryKind = 0;
    uint8_t CheckDone = 0;
    // The last credential check ended with the credentials refused: nothing is sent to
    // the device until a check passes (it may lock the account, and its model is a claim).
    uint8_t LoginRefused = 0;
    // The MAC address the device named in its system list (credential check) or its
    // network page (entry by address); empty until then. The upgrade history keeps it.
    std::string MacAddress;
    DeviceProtocol Protocol = DeviceProtocol::Maker;
    // ONVIF: the device service's addresses to try, in order (the one that answered last
    // first); HostAddress, the port and the scheme are those of the first.
    std::vector<std::string> ServiceAddresses;
    // ONVIF: the serial number the device names; empty until it has been asked.
    std::string SerialNumber;
};
