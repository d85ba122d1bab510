#include "registry/address_range.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "base/text.h"

namespace {

bool AllDigits(const std::string& text, size_t most) {
    return !text.empty() && text.size() <= most &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; });
}

bool ParseIpv4(const std::string& text, uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    return true;
}

std::string TooLarge(const std::string& text, uint64_t count) {
    return "range '" + text + "' holds " + std::to_string(count) + " addresses; at most " +
           std::to_string(AddressRange::kMaxAddresses) + " (a /16) can be asked";
}

// The block of "A.B.C.D/N": its host addresses.
bool ParseBlock(const std::string& whole, const std::string& base, const std::string& bits,
                AddressRange& range, std::string& error, bool& tooLarge) {
    uint32_t address = 0;
    if (!ParseIpv4(base, address) || !AllDigits(bits, 2) || std::stoi(bits) > 32) {
        error = "bad address block '" + whole + "' (expected A.B.C.D/N)";
        return false;
    }
    const int prefix = std::stoi(bits);
    const uint64_t size = uint64_t{1} << (32 - prefix);
    if (size > AddressRange::kMaxAddresses) {
        error = TooLarge(whole, size);
        tooLarge = true;
        return false;
    }
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    range.First = address & mask;
    range.Last = range.First + static_cast<uint32_t>(size - 1);
    // A /31 or /32 has no network or broadcast address to leave out.
    if (prefix <= 30) {
        ++range.First;
        --range.Last;
    }
    return true;
}

// "A.B.C.D-E.F.G.H" or "A.B.C.D-H".
bool ParseSpan(const std::string& whole, const std::string& from, const std::string& to,
               AddressRange& range, std::string& error, bool& tooLarge) {
    uint32_t first = 0;
    uint32_t last = 0;
    bool ok = ParseIpv4(from, first);
    if (ok && AllDigits(to, 3)) {
        const int lastByte = std::stoi(to);
        ok = lastByte <= 255;
        last = (first & 0xFFFFFF00u) | static_cast<uint32_t>(lastByte);
    } else {
        ok = ok && ParseIpv4(to, last);
    }
    if (!ok) {
        error = "bad address range '" + whole + "' (expected A.B.C.D-E.F.G.H)";
        return false;
    }
    if (last < first) {
        error = "address range '" + whole + "' ends before it starts";
        return false;
    }
    range.First = first;
    range.Last = last;
    if (range.Count() > AddressRange::kMaxAddresses) {
        error = TooLarge(whole, range.Count());
        tooLarge = true;
        return false;
    }
    return true;
}

}  // namespace

std::string AddressRange::AddressAt(uint64_t index) const {
    in_addr address{};
    address.s_addr = htonl(First + static_cast<uint32_t>(index));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool LooksLikeRange(const std::string& text) {
    const std::string trimmed = Trim(text);
    if (trimmed.find('/') != std::string::npos) return true;
    // "cam-01" is a host name; "10.0.0.10-60" a range.
    uint32_t first = 0;
    const size_t dash = trimmed.find('-');
    return dash != std::string::npos && ParseIpv4(trimmed.substr(0, dash), first);
}

bool ParseAddressRange(const std::string& text, AddressRange& range, std::string& error,
                       bool* tooLarge) {
    std::string addresses = Trim(text);
    range = AddressRange();
    if (tooLarge) *tooLarge = false;
    if (const size_t colon = addresses.find(':'); colon != std::string::npos) {
        const std::string port = addresses.substr(colon + 1);
        if (!AllDigits(port, 5) || std::stoi(port) < 1 || std::stoi(port) > 65535) {
            error = "bad port in range '" + text + "'";
            return false;
        }
        range.Port = std::stoi(port);
        range.PortGiven = true;
        addresses.resize(colon);
    }
    bool parsed = true;
    bool large = false;
    if (const size_t slash = addresses.find('/'); slash != std::string::npos) {
        parsed = ParseBlock(text, addresses.substr(0, slash), addresses.substr(slash + 1), range,
                            error, large);
    } else if (const size_t dash = addresses.find('-'); dash != std::string::npos) {
        parsed = ParseSpan(text, addresses.substr(0, dash), addresses.substr(dash + 1), range,
                           error, large);
    } else if (!ParseIpv4(addresses, range.First)) {
        error = "bad address '" + text + "' (expected an IPv4 address or range)";
        return false;
    } else {
        range.Last = range.First;
    }
    if (tooLarge) *tooLarge = large;
    return parsed;
}

bool ParseAddressRanges(const std::vector<std::string>& texts, std::vector<AddressRange>& ranges,
                        std::string& error) {
    ranges.clear();
    uint64_t total = 0;
    for (const std::string& text : texts) {
        AddressRange range;
        if (!ParseAddressRange(text, range, error)) return false;
        total += range.Count();
        ranges.push_back(range);
    }
    if (total > AddressRange::kMaxAddresses) {
        error = "the ranges hold " + std::to_string(total) + " addresses together; at most " +
                std::to_string(AddressRange::kMaxAddresses) + " (a /16) can be asked";
        return false;
    }
    return true;
}
