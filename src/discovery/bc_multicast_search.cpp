#include "discovery/bc_multicast_search.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/text.h"
#include "base/utf16.h"

namespace {

// Request layout.
constexpr char kRequestMagic[] = "WIPCF";
constexpr size_t kRequestCodeOffset = 16;
constexpr size_t kDhcpOffset = 38;
constexpr size_t kAdapterAddressOffset = 39;
constexpr size_t kMaskOffset = 43;
constexpr size_t kGatewayOffset = 47;
constexpr size_t kDns1Offset = 51;
constexpr size_t kDns2Offset = 55;

// Reply layout: (offset, size) of each field. Texts end at a NUL within their field.
struct Field {
    size_t Offset;
    size_t Size;
};
constexpr Field kNameField{0, 16};
constexpr Field kCodeField{32, 2};
constexpr Field kIdField{34, 16};
constexpr Field kValue52Field{52, 2};
constexpr Field kAddressField{54, 16};
constexpr Field kVendorField{70, 32};
constexpr Field kModelField{102, 32};
constexpr Field kPortField{134, 122};

constexpr int kDefaultHttpPort = 80;
constexpr int kDefaultHttpsPort = 443;

uint16_t ReadU16(std::span<const uint8_t> bytes, Field field) {
    return static_cast<uint16_t>(bytes[field.Offset] | (bytes[field.Offset + 1] << 8));
}

std::string_view RawText(const void* data, size_t size) {
    const char* text = static_cast<const char*>(data);
    return std::string_view(text, strnlen(text, size));
}

std::string FieldText(std::span<const uint8_t> reply, Field field) {
    return ToValidUtf8(RawText(reply.data() + field.Offset, field.Size));
}

// The dotted address a reply's address text means: blanks around it dropped, each part
// read as decimal ("192.168.001.010" is 192.168.1.10, as the device means it, not an
// octal 8). Empty when the text is no IPv4 address.
std::string DottedAddress(const std::string& text) {
    const std::string trimmed = Trim(text);
    const std::vector<std::string> parts = SplitAny(trimmed, ".");
    if (parts.size() != 4 || std::count(trimmed.begin(), trimmed.end(), '.') != 3) return {};
    std::string dotted;
    for (const std::string& part : parts) {
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos) {
            return {};
        }
        const int64_t value = ParseDecimal(part);
        if (value > 255) return {};
        dotted += (dotted.empty() ? "" : ".") + std::to_string(value);
    }
    return dotted;
}

template <size_t N>
void CopyField(std::span<const uint8_t> reply, Field field, std::array<char, N>& target) {
    static_assert(N > 0);
    std::memcpy(target.data(), reply.data() + field.Offset, std::min(N, field.Size));
}

// The port text's leading decimal number. A value no TCP port can have counts as none,
// so that the device is tried on the standard ports rather than on a wrong one.
int32_t ReplyPort(std::span<const uint8_t> reply) {
    const int64_t port = ParseDecimal(RawText(reply.data() + kPortField.Offset, kPortField.Size));
    return port >= 1 && port <= 65535 ? static_cast<int32_t>(port) : 0;
}

// "a.b.c.d" as four bytes in text order; all zero unless the text has four parts.
void PutAddress(const std::string& dotted, std::span<uint8_t> request, size_t offset) {
    const std::vector<std::string> parts = SplitAny(dotted, ".");
    if (parts.size() != 4) return;
    for (size_t i = 0; i < 4; ++i)
        request[offset + i] = static_cast<uint8_t>(ParseDecimal(parts[i]));
}

uint32_t ModelCategory(const std::string& model) {
    if (model.find("RX-") != std::string::npos) return 2;
    if (model.find("ZD-") != std::string::npos) return 3;
    return 1;
}

}  // namespace

CBCMulticastSearch::CBCMulticastSearch() : CMulticastSearch(kName, kGroup, kPort, kPort) {}

CBCMulticastSearch::~CBCMulticastSearch() { StopAndJoin(); }

size_t CBCMulticastSearch::BuildRequest(const AdapterEntry& adapter,
                                        std::span<uint8_t> buffer) const {
    if (buffer.size() < kRequestLength) return 0;
    std::span<uint8_t> request = buffer.first(kRequestLength);
    std::fill(request.begin(), request.end(), 0);
    std::memcpy(request.data(), kRequestMagic, std::strlen(kRequestMagic));
    request[kRequestCodeOffset] = kRequestCode & 0xFF;
    request[kRequestCodeOffset + 1] = kRequestCode >> 8;
    request[kDhcpOffset] = adapter.DhcpEnabled != 0 ? 1 : 0;
    PutAddress(adapter.Address, request, kAdapterAddressOffset);
    PutAddress(adapter.Mask, request, kMaskOffset);
    PutAddress(adapter.Gateway, request, kGatewayOffset);
    PutAddress(adapter.Dns1, request, kDns1Offset);
    PutAddress(adapter.Dns2, request, kDns2Offset);
    return kRequestLength;
}

bool CBCMulticastSearch::ParseReply(std::span<const uint8_t> datagram, CIPCamInfo& record) {
    if (datagram.size() < kReplyLength) return false;
    const std::span<const uint8_t> reply = datagram.first(kReplyLength);
    if (ReadU16(reply, kCodeField) != kReplyCode) return false;
    record.RawReply.Length = kReplyLength;
    std::copy(reply.begin(), reply.end(), record.RawReply.Bytes.begin());

    record.HostAddress = DottedAddress(FieldText(reply, kAddressField));
    record.HttpPort = ReplyPort(reply);
    record.HttpsPort = record.HttpPort;
    DiscoveryDetail& detail = record.Detail;
    CopyField(reply, kNameField, detail.Name);
    CopyField(reply, kIdField, detail.Identifier);
    CopyField(reply, kVendorField, detail.Vendor);
    detail.Command = ReadU16(reply, kCodeField);
    detail.Value52 = ReadU16(reply, kValue52Field);
    std::snprintf(detail.MyIp.data(), detail.MyIp.size(), "MyIP=%s", record.HostAddress.c_str());
    record.DiscoveryKind = 1;
    detail.FoundMarker = 1;
    detail.KindMarker = 4;
    detail.ModelCategory = ModelCategory(FieldText(reply, kModelField));

    if (!IsAcceptedVendor(FieldText(reply, kVendorField))) return false;
    // URNs name ONVIF devices (their endpoint references): such an identifier could take
    // a camera's row.
    if (StartsWith(ToLowerAscii(FieldText(reply, kIdField)), "urn:")) return false;
    // Every request to the device is addressed with this text, credentials included.
    if (record.HostAddress.empty()) return false;
    RecordHost(record.HostAddress);
    return true;
}

void CBCMulticastSearch::DeliverDevice(const CIPCamInfo& parsed) {
    std::lock_guard lock(deliveryLock_);
    const std::span<const uint8_t> reply(parsed.RawReply.Bytes.data(), kReplyLength);
    CIPCamInfo device;
    device.DeviceId = FieldText(reply, kIdField);
    device.VendorName = FieldText(reply, kVendorField);
    device.ModelName = Trim(FieldText(reply, kModelField));
    device.ProductModel = device.ModelName;
    device.DeviceName =
        Trim(ToValidUtf8(RawText(parsed.Detail.Name.data(), parsed.Detail.Name.size())));
    device.UserName = parsed.UserName;
    device.Password = parsed.Password;
    device.HostAddress = parsed.HostAddress;
    device.LoginOk = parsed.LoginOk;
    device.Detail = parsed.Detail;
    device.RawReply = parsed.RawReply;
    device.DiscoveryKind = parsed.DiscoveryKind;
    device.HttpPort = parsed.HttpPort != 0 ? parsed.HttpPort : kDefaultHttpPort;
    device.HttpsPort = parsed.HttpsPort != 0 ? parsed.HttpsPort : kDefaultHttpsPort;
    for (ISearchListener* listener : Listeners()) listener->DeviceReported(device);
}
