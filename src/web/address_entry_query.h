#pragma once

#include <chrono>
#include <functional>
#include <string>

// Who a device typed in by address is: the answers of its system list, its log-in form
// and its network information page.
struct AddressedDevice {
    std::string Host;  // as usable in an address: an IPv6 literal in square brackets
    std::string Model;
    std::string FirmwareVersion;
    std::string HostName;
    std::string Mac;
};

// Puts an IPv6 literal (a host with ':') in square brackets, leaving a bracketed one and
// any other host as they are.
std::string BracketedHost(const std::string& host);

// How one query by address is bounded. Every answer is cut at kMaxAnswerBytes and the
// whole query ends after Budget (kBudgetMs unless told), however the device answers.
struct AddressQueryLimits {
    static constexpr size_t kMaxAnswerBytes = 102400;
    static constexpr int kBudgetMs = 8000;
    // Time-out of the connection, and the longest time no byte may move.
    static constexpr int kTimeoutMs = 2000;

    // The connect time-out of the first request: a range scan asks shorter, since most
    // of its addresses hold no device.
    int ConnectTimeoutMs = kTimeoutMs;
    std::chrono::milliseconds Budget{kBudgetMs};
    // Ends the query (within 100 ms) as soon as it says so; may be empty.
    std::function<bool()> Cancelled;
};

// Asks the device at scheme://host:port, on one kept connection with the given
// credentials, for its system list, logs in through its log-in form and reads its
// network information. 0 with `out` filled; the code of the system list request when
// it failed (-1, -2, -101, -301; -8 when no connection could be made at all, a
// connect time-out included); -304 when the log-in was refused or failed; -1
// when the network page names no MAC address; -2 when the whole query ran past its
// budget; -6 when cancelled.
int QueryDeviceByAddress(const std::string& scheme, const std::string& host, int port,
                         const std::string& user, const std::string& password, AddressedDevice& out,
                         const AddressQueryLimits& limits = {});
