#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A block of IPv4 addresses to ask one by one who is there, as typed by the user:
// "10.20.0.0/24" (the block's hosts, without its network and broadcast addresses when it
// has them), "10.20.0.10-10.20.0.60" or "10.20.0.10-60" (both ends included), or one
// address; each optionally followed by ":PORT".
struct AddressRange {
    // The most addresses one range may hold: a /16. Larger blocks are refused, since
    // asking them one by one would take hours.
    static constexpr uint64_t kMaxAddresses = 65536;

    uint32_t First = 0;  // host byte order
    uint32_t Last = 0;
    int Port = 80;
    bool PortGiven = false;  // the text named the port

    uint64_t Count() const { return uint64_t{Last} - First + 1; }
    // The dotted text of the `index`th address (0-based, below Count()).
    std::string AddressAt(uint64_t index) const;
};

// True when the text is meant as a range (a '/' in it, or an IPv4 address and a '-')
// rather than one address or host name.
bool LooksLikeRange(const std::string& text);

// Reads one range; false with a one-line message (bad address, bad port, reversed ends,
// a block larger than a /16) otherwise; `tooLarge`, when given, tells the last.
bool ParseAddressRange(const std::string& text, AddressRange& range, std::string& error,
                       bool* tooLarge = nullptr);

// Reads every text; false with the first message. The ranges together may hold at most
// AddressRange::kMaxAddresses addresses as well.
bool ParseAddressRanges(const std::vector<std::string>& texts, std::vector<AddressRange>& ranges,
                        std::string& error);
