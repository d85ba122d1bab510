#include "device/firmware_version.h"

#include <algorithm>

#include "base/text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string ReducedPiece(const std::string& piece) {
    if (std::all_of(piece.begin(), piece.end(), IsDigit)) return piece;
    if (piece.find('C') == std::string::npos) return "0";
    std::string digits;
    std::copy_if(piece.begin(), piece.end(), std::back_inserter(digits), IsDigit);
    return digits;
}

}  // namespace

int64_t FirmwareVersionNumber(const std::string& version) {
    std::string joined;
    for (const std::string& piece : SplitAny(version, ".")) joined += ReducedPiece(piece);
    return ParseDecimal(joined);
}

bool IsNewerFirmware(const std::string& deviceVersion, const std::string& catalogueVersion) {
    return FirmwareVersionNumber(catalogueVersion) > FirmwareVersionNumber(deviceVersion);
}
