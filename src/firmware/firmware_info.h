#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One firmware image for one product, model and hardware version: what the store holds
// ("Stored...") and what the server names as newest ("Latest..."). Texts compare
// exactly, byte for byte.
struct CFirmwareInfo {
    std::string ProductName;  // the record's Model when the record left it empty
    std::string Model;
    std::string HWVer;
    std::string StoredFWVer;  // empty while no image is held
    std::string StoredMD5;
    std::string StoredFilename;  // a file name in the storage folder, no folder part
    std::string LatestFWVer;
    std::string LatestMD5;  // 32 lower-case hexadecimal digits
    std::string LatestFilename;
    int64_t Size = 0;              // bytes of the newest image
    bool InServerCatalog = false;  // named by the server catalogue being merged
};

// The images shown and downloaded as one row: a series.
struct CFirmwareSeries {
    std::string Name;
    std::vector<CFirmwareInfo> Entries;
    bool Checked = false;  // selected for download
    bool Listed = false;   // named by the server catalogue being merged
};
