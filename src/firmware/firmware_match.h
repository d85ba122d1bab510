#pragma once

#include <string>
#include <vector>

// The firmware store's answer to the upgrade dispatch: which stored images fit a
// device. The catalogue implements it; tests hand the dispatch a store of their own.
class IFirmwareMatch {
public:
    virtual ~IFirmwareMatch() = default;

    // The stored images that fit a device: versions in ascending byte order and their
    // full paths in the same order (the last is the newest). False, both lists empty,
    // when nothing fits.
    virtual bool FindLatestFirmware(const std::string& model, const std::string& hwVer,
                                    const std::string& productName,
                                    std::vector<std::string>& versions,
                                    std::vector<std::string>& paths) const = 0;
};
