#pragma once

#include <limits>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/xml_attribute.h"
#include "firmware/catalog_xml.h"
#include "firmware/download_job.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_download_sink.h"
#include "fuzz_check.h"

// A text as firmware.xml gives it back: the writer replaces or drops what XML cannot
// carry (malformed UTF-8, control characters), so a device text may come back changed.
inline std::string AsReadBack(const std::string& text) {
    pugi::xml_document doc;
    const std::string xml = "<a v=\"" + XmlAttributeText(text) + "\"/>";
    FUZZ_CHECK(doc.load_string(xml.c_str()));
    return doc.child("a").attribute("v").as_string();
}

// What both catalogue harnesses check once a catalogue is read: the size arithmetic a
// download runs on stays within bounds, and firmware.xml written from the catalogue
// reads back as the same records.
inline void CheckCatalog(const CFirmwareCatalog& catalog) {
    const std::vector<CFirmwareSeries> series = catalog.Series();
    size_t entries = 0;
    for (const CFirmwareSeries& s : series) {
        const int64_t total = catalog.SeriesTotalSize(s.Name);
        FUZZ_CHECK(total >= 0);
        CDownloadJob job;
        for (int k = 0; k < catalog.CountImages(s.Name); ++k) {
            CFirmwareDownloadParams params;
            if (!catalog.GetDownloadParams(s.Name, k, params)) continue;
            FUZZ_CHECK(params.Size >= 0 && params.Size <= kMaxImageBytes);
            CDownloadItem item;
            item.Size = params.Size;
            job.Items.push_back(item);
            // No size may wrap the free-space check into a refusal on an endless disk.
            FUZZ_CHECK(
                RoomForImage([](const std::string&) { return std::numeric_limits<int64_t>::max(); },
                             params.LocalPath, params.Size));
        }
        for (size_t i = 0; i < job.Items.size(); ++i) FUZZ_CHECK(job.BytesAfter(i) >= 0);
        entries += s.Entries.size();
    }

    std::vector<CatalogRecord> records;
    FUZZ_CHECK(ReadCatalogRecords(FirmwareXmlText(series), records));
    FUZZ_CHECK(records.size() == entries);
    size_t r = 0;
    for (const CFirmwareSeries& s : series) {
        for (const CFirmwareInfo& e : s.Entries) {
            const CatalogRecord& back = records[r++];
            FUZZ_CHECK(back.Series == AsReadBack(s.Name) && back.Model == AsReadBack(e.Model) &&
                       back.HWVer == AsReadBack(e.HWVer));
            FUZZ_CHECK(back.ProductName == AsReadBack(e.ProductName) && back.Size == e.Size);
            FUZZ_CHECK(back.FWVer == AsReadBack(e.StoredFWVer) &&
                       back.Filename == AsReadBack(e.StoredFilename) &&
                       back.MD5 == AsReadBack(e.StoredMD5));
        }
    }
}
