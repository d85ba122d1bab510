#include "discovery_responder.h"

#include "udp_reply.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <set>

const std::vector<std::string>& DiscoveryFaultNames() {
    static const std::vector<std::string> names = {
        "discovery_short",     "discovery_code",    "discovery_vendor",
        "discovery_duplicate", "discovery_delay",   "discovery_jitter",
        "discovery_loss",      "discovery_endless", "discovery_address"};
    return names;
}

namespace {

// discovery_endless and wsd_endless: a minute of replies, ten a second.
constexpr int kEndlessEveryMs = 100;
constexpr int kEndlessRepeats = 600;

constexpr const char* kGroup = "234.2.2.9";
constexpr uint16_t kPort = 14675;
constexpr size_t kRequestLength = 64;
constexpr size_t kReplyLength = 256;
constexpr uint16_t kRequestCode = 110;
constexpr int kIdleWaitMs = 100;

bool ParseNumber(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Writes a text into a reply field, cut so that a NUL always ends it within the field.
void PutText(std::vector<uint8_t>& reply, size_t offset, size_t size, const std::string& text) {
    std::memcpy(reply.data() + offset, text.data(), std::min(text.size(), size - 1));
}

void PutU16(std::vector<uint8_t>& reply, size_t offset, uint16_t value) {
    reply[offset] = value & 0xFF;
    reply[offset + 1] = value >> 8;
}

bool AllZero(const uint8_t* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

// What a device checks before it answers; empty when the request is good.
std::string RequestFault(const uint8_t* bytes, size_t length) {
    if (length != kRequestLength) {
        return "length " + std::to_string(length) + ", expected " + std::to_string(kRequestLength);
    }
    if (std::memcmp(bytes, "WIPCF", 5) != 0 || !AllZero(bytes + 5, 11)) return "no WIPCF mark";
    const int code = bytes[16] | (bytes[17] << 8);
    if (code != kRequestCode) return "command code " + std::to_string(code) + ", expected 110";
    if (!AllZero(bytes + 18, 20) || !AllZero(bytes + 59, 5)) return "reserved bytes not zero";
    if (bytes[38] > 1) return "DHCP flag " + std::to_string(bytes[38]);
    return {};
}

std::string Hex(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

}  // namespace

DiscoveryResponder::DiscoveryResponder(const std::vector<std::unique_ptr<SimDevice>>& devices,
                                       bool logRequests, AwayCheck away)
    : logRequests_(logRequests), away_(std::move(away)) {
    for (const auto& device : devices) {
        // ONVIF cameras answer WS-Discovery only (wsd_responder.h).
        if (device->IsOnvif()) continue;
        Plan plan;
        plan.Device = device.get();
        plans_.push_back(plan);
    }
}

DiscoveryResponder::~DiscoveryResponder() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
}

bool DiscoveryResponder::Start(std::string& error) {
    for (Plan& plan : plans_) {
        const SimDeviceConfig& c = plan.Device->Config();
        if (::inet_pton(AF_INET, c.Address.c_str(), &plan.Address) != 1) {
            error = "device " + c.Id + ": address '" + c.Address + "' is not IPv4";
            return false;
        }
        plan.Vendor = c.Vendor;
        int number = 0;
        auto numberFault = [&](const char* name, int fallback, int low, int high, int& out) {
            if (!plan.Device->HasFault(name)) return true;
            std::string value = plan.Device->FaultValue(name);
            if (value.empty() && fallback >= 0) {
                out = fallback;
                return true;
            }
            if (!ParseNumber(value, number) || number < low || number > high) {
                error = "device " + c.Id + ": fault " + name + " needs a number from " +
                        std::to_string(low) + " to " + std::to_string(high);
                return false;
            }
            out = number;
            return true;
        };
        int length = static_cast<int>(plan.Length), code = plan.Code;
        if (!numberFault("discovery_short", 255, 0, 255, length) ||
            !numberFault("discovery_code", -1, 0, 65535, code) ||
            !numberFault("discovery_duplicate", 2, 1, 100, plan.Copies) ||
            !numberFault("discovery_delay", -1, 0, 60000, plan.DelayMs) ||
            !numberFault("discovery_jitter", -1, 0, 60000, plan.JitterMs) ||
            !numberFault("discovery_loss", -1, 0, 100, plan.LossPercent)) {
            return false;
        }
        plan.Length = static_cast<size_t>(length);
        plan.Code = static_cast<uint16_t>(code);
        if (plan.Device->HasFault("discovery_vendor")) {
            std::string vendor = plan.Device->FaultValue("discovery_vendor");
            plan.Vendor = vendor.empty() ? "Acme" : vendor;
        }
    }

    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    const unsigned char loop = 0, ttl = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd_ < 0 || ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one) != 0 ||
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("discovery socket on port 14675: ") + std::strerror(errno);
        return false;
    }
    std::set<in_addr_t> joined;
    for (const Plan& plan : plans_) {
        if (!joined.insert(plan.Address.s_addr).second) continue;
        // Devices that share an interface share its membership.
        if (!JoinGroup(fd_, kGroup, plan.Device->Config().Address)) {
            error = "cannot join 234.2.2.9 on " + plan.Device->Config().Address + ": " +
                    std::strerror(errno);
            return false;
        }
    }
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    return true;
}

void DiscoveryResponder::Run(std::stop_token stop) {
    RunResponder(
        fd_, stop, std::chrono::milliseconds(kIdleWaitMs),
        [this]() -> std::optional<SteadyTime> {
            if (due_.empty()) return std::nullopt;
            return due_.begin()->first;
        },
        [this] { ReceiveRequest(); }, [this] { SendDueReplies(); });
}

void DiscoveryResponder::ReceiveRequest() {
    uint8_t bytes[4096];
    ReceivedDatagram datagram;
    if (!ReceiveDatagram(fd_, bytes, sizeof bytes, datagram)) return;
    const size_t length = datagram.Length;
    const int interfaceIndex = datagram.InterfaceIndex;
    const char* source = datagram.FromText.c_str();
    const std::string fault = RequestFault(bytes, length);
    if (logRequests_) {
        std::printf("discovery-request from=%s length=%zu valid=%d bytes=%s\n", source, length,
                    fault.empty() ? 1 : 0, Hex(bytes, std::min(length, kReplyLength)).c_str());
        std::fflush(stdout);
    }
    if (!fault.empty()) {
        std::fprintf(stderr, "devsim: discovery: ignoring request from %s: %s\n", source,
                     fault.c_str());
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = 0; i < plans_.size(); ++i) {
        if (Lost(plans_[i].LossPercent)) continue;
        const int jitter = plans_[i].JitterMs;
        const int delayMs =
            plans_[i].DelayMs +
            (jitter > 0 ? std::uniform_int_distribution<int>(0, jitter)(random_) : 0);
        due_.emplace(now + std::chrono::milliseconds(delayMs), Pending{i, interfaceIndex});
    }
}

void DiscoveryResponder::SendDueReplies() {
    const auto now = std::chrono::steady_clock::now();
    while (!due_.empty() && due_.begin()->first <= now) {
        const Pending pending = due_.begin()->second;
        due_.erase(due_.begin());
        const Plan& plan = plans_[pending.PlanIndex];
        if (away_ && away_(*plan.Device)) continue;
        std::vector<uint8_t> reply = Reply(plan);
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(kPort);
        ::inet_pton(AF_INET, kGroup, &group.sin_addr);
        // Sent from the device's own address, back out of the interface the request came
        // in; a device that came back from its reboot at another address answers from it.
        for (int copy = 0; copy < plan.Copies; ++copy) {
            if (Lost(plan.LossPercent)) continue;
            if (!SendFrom(fd_, group, pending.InterfaceIndex, plan.Device->Address(), reply.data(),
                          reply.size())) {
                std::fprintf(stderr, "devsim: discovery: reply of %s not sent: %s\n",
                             plan.Device->Config().Id.c_str(), std::strerror(errno));
            }
        }
        if (plan.Device->HasFault("discovery_endless") && pending.Repeats < kEndlessRepeats) {
            due_.emplace(now + std::chrono::milliseconds(kEndlessEveryMs),
                         Pending{pending.PlanIndex, pending.InterfaceIndex, pending.Repeats + 1});
        }
    }
}

bool DiscoveryResponder::Lost(int percent) {
    return percent > 0 && std::uniform_int_distribution<int>(0, 99)(random_) < percent;
}

std::vector<uint8_t> DiscoveryResponder::Reply(const Plan& plan) const {
    const SimDevice& device = *plan.Device;
    const SimDeviceConfig& c = device.Config();
    // The port the device's web server really listens on, once one is bound; a device
    // without a web server names the usual one.
    const int httpPort = device.HttpPort() != 0 ? device.HttpPort()
                         : c.HttpPort > 0       ? c.HttpPort
                                                : 80;
    std::vector<uint8_t> reply(kReplyLength, 0);
    PutText(reply, 0, 16, c.Name);
    PutU16(reply, 32, plan.Code);
    PutText(reply, 34, 16, c.Id);
    PutText(reply, 54, 16,
            device.HasFault("discovery_address") ? device.FaultValue("discovery_address")
                                                 : device.Address());
    PutText(reply, 70, 32, plan.Vendor);
    PutText(reply, 102, 32, c.Model);
    PutText(reply, 134, 122, std::to_string(httpPort));
    reply.resize(plan.Length);
    return reply;
}
