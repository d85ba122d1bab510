#include "discovery/ws_discovery_search.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/http_url.h"
#include "base/text.h"
#include "base/trace.h"
#include "discovery/socket_fd.h"
#include "discovery/ws_discovery_messages.h"

namespace {

using Steady = std::chrono::steady_clock;

// A probe's MessageIDs are kept for this many probes; older replies are not taken.
constexpr size_t kKeptProbeIds = 256;

CIPCamInfo RecordOf(const ProbeMatch& match, const std::string& sender) {
    CIPCamInfo record;
    record.Protocol = DeviceProtocol::Onvif;
    // One form for every reply, so that replies naming it in another case join.
    record.DeviceId = UuidKey(match.Endpoint);
    record.ServiceAddresses = OrderServiceAddresses(match.XAddrs, sender);
    record.DeviceName = ScopeValue(match.Scopes, "name");
    // Until the device is asked (it names its maker and model then), the hardware scope
    // is all that is known of its model.
    record.ModelName = ScopeValue(match.Scopes, "hardware");
    if (!record.ServiceAddresses.empty()) {
        const HttpUrl first = *ParseHttpUrl(record.ServiceAddresses.front());
        record.HostAddress = first.Host;
        record.HttpsFlag = first.Https() ? 1 : 0;
        (first.Https() ? record.HttpsPort : record.HttpPort) = first.Port;
    }
    record.DiscoveryKind = 1;
    return record;
}

// Points the socket's multicast sends at the adapter.
bool AimAt(int fd, const AdapterEntry& adapter) {
    in_addr local{};
    if (::inet_pton(AF_INET, adapter.Address.c_str(), &local) != 1) return false;
    const unsigned char loop = 0;  // our own probes must not come back
    const unsigned char ttl = 1;   // probes stay on the local link
    return SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP, loop) &&
           SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_TTL, ttl) &&
           SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_IF, local);
}

}  // namespace

CWsDiscoverySearch::CWsDiscoverySearch() : CSearch(kName) {}

CWsDiscoverySearch::~CWsDiscoverySearch() { StopAndJoin(); }

void CWsDiscoverySearch::Start() {
    LaunchReceiveThread([this](std::stop_token token) { Receive(token); });
}

void CWsDiscoverySearch::DeliverDevice(const CIPCamInfo& parsed) {
    std::lock_guard lock(deliveryLock_);
    for (ISearchListener* listener : Listeners()) listener->DeviceReported(parsed);
}

size_t CWsDiscoverySearch::BuildRequest(const AdapterEntry&, std::span<uint8_t> buffer) const {
    const std::string id = NewMessageId();
    const std::string probe = BuildProbe(id);
    if (buffer.size() < probe.size()) return 0;
    {
        std::lock_guard lock(probesLock_);
        if (probeIds_.size() >= kKeptProbeIds) probeIds_.clear();
        probeIds_.insert(UuidKey(id));
    }
    std::copy(probe.begin(), probe.end(), buffer.begin());
    return probe.size();
}

bool CWsDiscoverySearch::IsOwnProbe(const std::string& messageId) const {
    std::lock_guard lock(probesLock_);
    return probeIds_.count(UuidKey(messageId)) > 0;
}

std::vector<CIPCamInfo> CWsDiscoverySearch::ParseMatches(std::span<const uint8_t> reply,
                                                         const std::string& sender) {
    std::vector<CIPCamInfo> records;
    const std::string_view text(reinterpret_cast<const char*>(reply.data()), reply.size());
    for (const ProbeMatch& match : ParseProbeMatches(text)) {
        if (!IsOwnProbe(match.RelatesTo)) continue;
        CIPCamInfo record = RecordOf(match, sender);
        // ONVIF devices are named by URNs, the maker's never: a reference of another form
        // could take a maker's device's row.
        if (!StartsWith(ToLowerAscii(record.DeviceId), "urn:")) {
            Trace("WS-Discovery reply from %s names endpoint '%.64s', no URN; ignored",
                  sender.c_str(), match.Endpoint.c_str());
            continue;
        }
        if (record.ServiceAddresses.empty()) continue;
        records.push_back(std::move(record));
    }
    if (!records.empty() && !sender.empty()) RecordHost(sender);
    return records;
}

bool CWsDiscoverySearch::ParseReply(std::span<const uint8_t> reply, CIPCamInfo& record) {
    std::vector<CIPCamInfo> records = ParseMatches(reply, std::string());
    if (records.empty()) return false;
    record = std::move(records.front());
    return true;
}

void CWsDiscoverySearch::Receive(std::stop_token token) {
    const std::vector<AdapterEntry> adapters = SearchAdapters();
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    // Replies come back to the port the probe came from: any free one.
    if (socket.Get() < 0 ||
        ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Trace("%s search: no socket: %s", GetName().c_str(), std::strerror(errno));
        return;
    }
    SetSocketOption(socket.Get(), SOL_SOCKET, SO_RCVBUF, kSocketReceiveBytes);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(wsd::kPort);
    ::inet_pton(AF_INET, wsd::kGroup, &group.sin_addr);

    std::vector<uint8_t> buffer(wsd::kMaxMessageBytes);
    auto sendProbes = [&] {
        for (const AdapterEntry& adapter : adapters) {
            if (!AimAt(socket.Get(), adapter)) {
                Trace("%s search: adapter %s (%s) skipped: %s", GetName().c_str(),
                      adapter.InterfaceName.c_str(), adapter.Address.c_str(), std::strerror(errno));
                continue;
            }
            const size_t length = BuildRequest(adapter, buffer);
            if (length > 0 && ::sendto(socket.Get(), buffer.data(), length, 0,
                                       reinterpret_cast<sockaddr*>(&group), sizeof group) < 0) {
                Trace("%s search: probe on %s not sent: %s", GetName().c_str(),
                      adapter.InterfaceName.c_str(), std::strerror(errno));
            }
        }
    };

    const auto interval = std::chrono::milliseconds(kProbeIntervalMs);
    const auto quiet = std::chrono::milliseconds(kReceiveWaitMs);
    int sent = 0;
    Steady::time_point nextProbe = Steady::now();
    Steady::time_point lastActivity = nextProbe;
    Steady::time_point lastProbe = nextProbe;
    while (!StopRequested(token)) {
        const Steady::time_point now = Steady::now();
        if (sent < kProbes && now >= nextProbe) {
            sendProbes();
            ++sent;
            nextProbe = now + interval;
            lastActivity = lastProbe = now;
        }
        const Steady::time_point listenEnd =
            std::min(lastActivity + quiet, lastProbe + std::chrono::milliseconds(kMostListenMs));
        if (sent == kProbes && now >= listenEnd) break;
        const Steady::time_point until = sent < kProbes ? nextProbe : listenEnd;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        pollfd ready{socket.Get(), POLLIN, 0};
        // Waits of at most a second, so that a stop is noticed within one.
        const int polled =
            ::poll(&ready, 1, static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 1000)));
        if (polled < 0 && errno != EINTR) break;
        if (polled <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(socket.Get(), buffer.data(), buffer.size(), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length <= 0) continue;
        char sender[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
        const std::vector<CIPCamInfo> records = ParseMatches(
            std::span<const uint8_t>(buffer.data(), static_cast<size_t>(length)), sender);
        if (!records.empty()) lastActivity = Steady::now();
        for (const CIPCamInfo& record : records) DeliverDevice(record);
    }
}
