#include "firmware/catalog_xml.h"

#include <pugixml.hpp>

#include "base/text.h"
#include "base/xml_attribute.h"

namespace {

std::string Attribute(const pugi::xml_node& node, const char* name) {
    return node.attribute(name).value();
}

}  // namespace

bool ReadCatalogRecords(std::string_view text, std::vector<CatalogRecord>& records) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    const pugi::xml_node root = document.document_element();
    if (!parsed || !root) return false;
    records.clear();
    for (const pugi::xml_node& node : root.children()) {
        if (node.type() != pugi::node_element || !ContainsNoCase(node.name(), "Firmware")) continue;
        CatalogRecord record;
        record.Series = Attribute(node, "Series");
        record.ProductName = Attribute(node, "ProductName");
        record.Model = Attribute(node, "Model");
        record.HWVer = Attribute(node, "HWVer");
        record.FWVer = Attribute(node, "FWVer");
        record.Filename = Attribute(node, "Filename");
        record.MD5 = Attribute(node, "MD5");
        record.Size = ParseDecimal(Attribute(node, "Size"));
        record.Checked = ParseDecimal(Attribute(node, "Checked")) != 0;
        if (record.Size < 0 || record.Size > kMaxImageBytes) continue;
        records.push_back(std::move(record));
    }
    return true;
}

std::string FirmwareXmlText(const std::vector<CFirmwareSeries>& series) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Firmwares>\r\n";
    for (const CFirmwareSeries& s : series) {
        for (const CFirmwareInfo& e : s.Entries) {
            text +=
                "<Firmware Series=\"" + XmlAttributeText(s.Name) + "\" Checked=\"" +
                (s.Checked ? "1" : "0") + "\" ProductName=\"" + XmlAttributeText(e.ProductName) +
                "\" Model=\"" + XmlAttributeText(e.Model) + "\" HWVer=\"" +
                XmlAttributeText(e.HWVer) + "\" FWVer=\"" + XmlAttributeText(e.StoredFWVer) +
                "\" Filename=\"" + XmlAttributeText(e.StoredFilename) + "\" MD5=\"" +
                XmlAttributeText(e.StoredMD5) + "\" Size=\"" + std::to_string(e.Size) + "\"/>\r\n";
        }
    }
    return text + "</Firmwares>";
}

bool IsPlainFileName(std::string_view name) {
    return name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}
