#pragma once

#include <cstdint>
#include <string>

// How the dispatch compares firmware versions: both texts become numbers, and the
// store's image is newer when its number is greater than the device's.
//
// A text is split at its dots (empty pieces skipped); a piece of digits stays, a piece
// holding the letter 'C' keeps only its digits ("0C1" -> "01"), any other piece counts
// as "0"; the pieces are joined without separators and read as a decimal number
// (leading digits only, saturating). So "1.2.3" is 123, "v2.3.7.8" is 378, "2.0C1" is 201
// and "2.0b1" is 20; "1.2" (12) is older than "1.2.0" (120).
int64_t FirmwareVersionNumber(const std::string& version);

bool IsNewerFirmware(const std::string& deviceVersion, const std::string& catalogueVersion);
