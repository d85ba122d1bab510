#include "history/site_inventory.h"

#include "base/text.h"
#include "base/utf16.h"
#include "base/xml_attribute.h"
#include "device/firmware_version.h"
#include "history/history_report.h"

namespace {

// The hardware version every dispatch asks the store for: the devices do not name one.
constexpr const char* kStoreHardwareVersion = "V1";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

bool SameDevice(const CIPCamInfo& device, const UpgradeHistoryRecord& record) {
    if (!device.MacAddress.empty() && !record.Mac.empty()) {
        return Lower(device.MacAddress) == Lower(record.Mac);
    }
    return !device.DeviceId.empty() && device.DeviceId == record.DeviceId;
}

std::string NewestFor(const CIPCamInfo& device, const IFirmwareMatch& store) {
    if (!FactsOf(device.Protocol).StoreImages) return kNewestNotKnown;
    std::vector<std::string> versions;
    std::vector<std::string> paths;
    const std::string& product =
        device.ProductModel.empty() ? device.ModelName : device.ProductModel;
    if (!store.FindLatestFirmware(device.ModelName, kStoreHardwareVersion, product, versions,
                                  paths) ||
        versions.empty()) {
        return {};
    }
    return versions.back();
}

struct Counts {
    int UpToDate = 0;
    int Newer = 0;
    int NotChecked = 0;
};

Counts CountOf(const std::vector<InventoryRow>& rows) {
    Counts counts;
    for (const InventoryRow& r : rows) {
        ++(r.State == InventoryState::UpToDate         ? counts.UpToDate
           : r.State == InventoryState::NewerAvailable ? counts.Newer
                                                       : counts.NotChecked);
    }
    return counts;
}

std::string LastDate(const InventoryRow& r) { return r.LastTime ? LocalTimeText(r.LastTime) : ""; }

constexpr const char* kStyle = R"(
body { font-family: "Liberation Sans", Arial, sans-serif; margin: 2em; color: #1c1c1c; }
h1 { font-size: 1.5em; margin: 0 0 .2em; }
.made { color: #555; margin: 0 0 1em; }
.summary { font-size: 1.15em; margin: 0 0 1.2em; }
table { border-collapse: collapse; width: 100%; font-size: .85em; }
th, td { border: 1px solid #bbb; padding: .3em .45em; text-align: left; vertical-align: top; }
th { background: #eee; }
td.n { white-space: nowrap; }
tr.newer td.state { color: #8a5a00; font-weight: bold; }
tr.unchecked td.state { color: #a11a1a; font-weight: bold; }
tr.current td.state { color: #17612a; }
tr { page-break-inside: avoid; }
thead { display: table-header-group; }
@media print { body { margin: 0; } @page { size: A4 landscape; margin: 12mm; } }
)";

const char* RowClass(InventoryState state) {
    switch (state) {
        case InventoryState::UpToDate:
            return "current";
        case InventoryState::NewerAvailable:
            return "newer";
        case InventoryState::NotChecked:
            break;
    }
    return "unchecked";
}

}  // namespace

const char* InventoryStateWord(InventoryState state) {
    switch (state) {
        case InventoryState::UpToDate:
            return "up to date";
        case InventoryState::NewerAvailable:
            return "newer available";
        case InventoryState::NotChecked:
            break;
    }
    return "not checked";
}

std::vector<InventoryRow> BuildInventory(const std::vector<CIPCamInfo>& devices,
                                         const IFirmwareMatch& store,
                                         const std::vector<UpgradeHistoryRecord>& history) {
    const std::vector<UpgradeHistoryRecord> amended = AmendLateReturns(history);
    std::vector<InventoryRow> rows;
    for (const CIPCamInfo& d : devices) {
        InventoryRow row;
        row.Name = d.DeviceName;
        row.Maker = d.VendorName;
        row.Model = d.ModelName;
        row.Mac = d.MacAddress;
        row.Serial = d.SerialNumber;
        row.Address = d.HostAddress + ":" + std::to_string(d.GetPort());
        row.Version = d.FirmwareVersion;
        row.Newest = NewestFor(d, store);
        if (d.LoginOk != 1) {
            row.State = InventoryState::NotChecked;
        } else if (row.Newest != kNewestNotKnown && !row.Newest.empty() &&
                   IsNewerFirmware(d.FirmwareVersion, row.Newest)) {
            row.State = InventoryState::NewerAvailable;
        } else {
            row.State = InventoryState::UpToDate;
        }
        for (const UpgradeHistoryRecord& r : amended) {
            if (SameDevice(d, r) && r.Time >= row.LastTime) {
                row.LastTime = r.Time;
                row.LastOutcome = ReportOutcomeWord(r.Code);
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string InventorySummary(const std::vector<InventoryRow>& rows) {
    const Counts c = CountOf(rows);
    return StrFormat("%zu device%s: %d up to date, %d with newer firmware, %d not checked",
                     rows.size(), rows.size() == 1 ? "" : "s", c.UpToDate, c.Newer, c.NotChecked);
}

std::string InventoryCsv(const std::vector<InventoryRow>& rows) {
    std::string csv =
        "Name,Maker,Model,MAC address,Serial number,Address,Firmware version,Newest in store,"
        "State,Last upgrade,Last upgrade date\r\n";
    for (const InventoryRow& r : rows) {
        const std::string fields[] = {CsvCell(r.Name, true),
                                      CsvCell(r.Maker, true),
                                      CsvCell(r.Model, true),
                                      CsvCell(r.Mac, true),
                                      CsvCell(r.Serial, true),
                                      CsvCell(r.Address, true),
                                      CsvCell(r.Version, true),
                                      CsvCell(r.Newest, true),
                                      CsvCell(InventoryStateWord(r.State), false),
                                      CsvCell(r.LastOutcome, false),
                                      CsvCell(LastDate(r), false)};
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (i > 0) csv += ',';
            csv += fields[i];
        }
        csv += "\r\n";
    }
    return csv;
}

std::string InventoryHtml(const std::vector<InventoryRow>& rows, const std::string& madeAt) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Site inventory</title>\n<style>";
    page += kStyle;
    page += "</style>\n</head>\n<body>\n<h1>Site inventory</h1>\n<p class=\"made\">Made " +
            XmlAttributeText(madeAt) + ".</p>\n<p class=\"summary\">" +
            XmlAttributeText(InventorySummary(rows)) +
            "</p>\n<table>\n<thead><tr><th>Name</th><th>Maker</th><th>Model</th><th>MAC "
            "address</th><th>Serial number</th><th>Address</th><th>Firmware</th><th>Newest in "
            "store</th><th>State</th><th>Last upgrade</th></tr></thead>\n<tbody>\n";
    for (const InventoryRow& r : rows) {
        const auto cell = [](const std::string& text, const char* cls = nullptr) {
            return std::string(cls ? "<td class=\"" + std::string(cls) + "\">" : "<td>") +
                   XmlAttributeText(ToValidUtf8(text)) + "</td>";
        };
        page += std::string("<tr class=\"") + RowClass(r.State) + "\">" + cell(r.Name) +
                cell(r.Maker) + cell(r.Model, "n") + cell(r.Mac, "n") + cell(r.Serial, "n") +
                cell(r.Address, "n") + cell(r.Version, "n") + cell(r.Newest, "n") +
                cell(InventoryStateWord(r.State), "state") +
                cell(r.LastOutcome.empty() ? "" : r.LastOutcome + " " + LastDate(r)) + "</tr>\n";
    }
    page += "</tbody>\n</table>\n</body>\n</html>\n";
    return page;
}
