#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_info.h"

// The two catalogue files: the server's "/Firmware_V2.xml" and the store's own
// "firmware.xml". Both are read with one rule: every child element of the document
// element whose name contains "Firmware" (any case) is one image record.

// One image record as written in either file; a missing attribute reads as empty
// ("Size" and "Checked" as 0).
struct CatalogRecord {
    std::string Series;
    std::string ProductName;
    std::string Model;
    std::string HWVer;
    std::string FWVer;
    std::string Filename;
    std::string MD5;
    int64_t Size = 0;
    bool Checked = false;  // only the local catalogue keeps it
};

// The largest image the store can hold: a stored image's size header has 4 bytes.
constexpr int64_t kMaxImageBytes = 0xFFFFFFFF;

// The records of a UTF-8 catalogue text in document order; false when the text is not
// a well-formed XML document. A record whose "Size" is negative or beyond
// kMaxImageBytes (a wrong or hostile number) is no record and is left out.
bool ReadCatalogRecords(std::string_view text, std::vector<CatalogRecord>& records);

// The whole text of firmware.xml: one line per entry of each series, in order, with
// the stored version, file and MD5 ("\r\n" line ends, none after the last line).
// Values carry XML escapes where they need them; ordinary texts appear as they are.
std::string FirmwareXmlText(const std::vector<CFirmwareSeries>& series);

// True for a name that stays inside the storage folder: no folder separators, not "."
// or "..", no zero byte. The empty name (no image) is allowed. Catalogue records naming
// anything else are ignored, so a server cannot make the store write or delete files
// elsewhere.
bool IsPlainFileName(std::string_view name);
