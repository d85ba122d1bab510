// A datagram from anything on the LAN: the search engine's reply parser, then delivery
// into the device table through the camera control, as a search wires them.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "discovery/bc_multicast_search.h"
#include "families/maker/maker_family.h"
#include "fuzz_check.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"

namespace {

// The port the reply's text at offset 134 names: its leading decimal number when that is
// a TCP port, else none (0). Counted with a cap, so no length of digits can wrap it.
int32_t ExpectedPort(const uint8_t* reply) {
    const char* text = reinterpret_cast<const char*>(reply + 134);
    const size_t size = strnlen(text, 122);
    size_t i = 0;
    while (i < size && std::strchr(" \t\r\n\v\f", text[i])) ++i;
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), 1000000);
    return !negative && value >= 1 && value <= 65535 ? static_cast<int32_t>(value) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCameraTable table;
    CCameraControl control(table, nullptr);
    // Wired as the maker's family makes it and the camera control listens to it.
    CBCMulticastSearch engine;
    engine.AddListener(control);
    engine.SetVendorList({MakerFamily::kAcceptedVendor});
    CIPCamInfo record;
    if (!engine.ParseReply(std::span<const uint8_t>(data, size), record)) return 0;
    // A parsed port is the one the text names, or none; never a wrapped number.
    FUZZ_CHECK(record.HttpPort == ExpectedPort(data));
    engine.DeliverDevice(record);
    for (const std::string& key : table.Keys()) {
        const std::optional<CIPCamInfo> stored = table.Find(key);
        FUZZ_CHECK(stored && !stored->DeviceId.empty());
        FUZZ_CHECK(stored->HttpPort >= 1 && stored->HttpPort <= 65535);
    }
    return 0;
}
