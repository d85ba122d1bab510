#include "base/xml_names.h"

#include "base/text.h"

std::string_view LocalName(std::string_view qualified) {
    const size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

std::string_view NamePrefix(std::string_view qualified) {
    const size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

std::string NamespaceOf(pugi::xml_node node, std::string_view prefix) {
    const std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
    for (pugi::xml_node at = node; at; at = at.parent()) {
        if (at.type() != pugi::node_element) continue;
        if (pugi::xml_attribute declared = at.attribute(attribute.c_str())) return declared.value();
    }
    return std::string();
}

std::string ElementNamespace(pugi::xml_node element) {
    return NamespaceOf(element, NamePrefix(element.name()));
}

pugi::xml_node ChildNamed(pugi::xml_node parent, std::string_view localName, std::string_view ns) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || LocalName(child.name()) != localName) continue;
        if (ns.empty() || ElementNamespace(child) == ns) return child;
    }
    return pugi::xml_node();
}

std::string ChildText(pugi::xml_node parent, std::string_view localName) {
    return Trim(ChildNamed(parent, localName).child_value());
}

std::string XmlDocumentText(const pugi::xml_document& doc) {
    struct Writer final : pugi::xml_writer {
        std::string Text;
        void write(const void* data, size_t size) override {
            Text.append(static_cast<const char*>(data), size);
        }
    } writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + writer.Text;
}
