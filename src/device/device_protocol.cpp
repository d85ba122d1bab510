#include "device/device_protocol.h"

#include <iterator>

namespace {

struct Row {
    DeviceProtocol Protocol;
    ProtocolFacts Facts;
};

constexpr Row kRows[] = {
    {DeviceProtocol::Maker, {"maker", 1, true, false, false, false}},
    {DeviceProtocol::Onvif, {"onvif", 0, false, true, true, true}},
};

}  // namespace

const ProtocolFacts& FactsOf(DeviceProtocol protocol) {
    for (const Row& row : kRows) {
        if (row.Protocol == protocol) return row.Facts;
    }
    return kRows[0].Facts;
}

std::optional<DeviceProtocol> ProtocolNamed(std::string_view name) {
    for (const Row& row : kRows) {
        if (name == row.Facts.Name) return row.Protocol;
    }
    return std::nullopt;
}
