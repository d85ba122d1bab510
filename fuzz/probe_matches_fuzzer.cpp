// A datagram from anything on the LAN answering our WS-Discovery probe: the ProbeMatches
// parser, the scope decoding and the ordering of the service addresses.
#include <cstdint>
#include <string_view>

#include "base/http_url.h"
#include "discovery/ws_discovery_messages.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<ProbeMatch> matches = ParseProbeMatches(text);
    FUZZ_CHECK(matches.size() <= wsd::kMaxMatches);
    for (const ProbeMatch& match : matches) {
        FUZZ_CHECK(!match.Endpoint.empty() && !match.XAddrs.empty());
        FUZZ_CHECK(match.XAddrs.size() <= wsd::kMaxListItems);
        FUZZ_CHECK(ScopeValue(match.Scopes, "name").size() <= text.size());
        // Every address the search keeps is one a request can be made to, and the sender's
        // own come first.
        const std::vector<std::string> ordered = OrderServiceAddresses(match.XAddrs, "198.18.1.5");
        bool elsewhere = false;
        for (const std::string& address : ordered) {
            const std::optional<HttpUrl> url = ParseHttpUrl(address);
            FUZZ_CHECK(url && url->Port >= 1 && url->Port <= 65535);
            FUZZ_CHECK(!(elsewhere && url->Host == "198.18.1.5"));
            elsewhere = elsewhere || url->Host != "198.18.1.5";
        }
    }
    return 0;
}
