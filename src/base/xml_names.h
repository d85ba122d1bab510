#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

// Reading XML whose elements carry namespace prefixes (SOAP envelopes, WS-Discovery):
// pugixml keeps names as written, so elements are found by their local name and, where
// the meaning depends on it, their namespace.

// The part of a qualified name after its prefix ("s:Body" -> "Body").
std::string_view LocalName(std::string_view qualified);

// The prefix of a qualified name ("s:Body" -> "s"; "Body" -> "").
std::string_view NamePrefix(std::string_view qualified);

// The namespace a prefix ("" for the default namespace) stands for at `node`, from the
// xmlns attributes of the node and its ancestors; empty when none declares it.
std::string NamespaceOf(pugi::xml_node node, std::string_view prefix);

// The element's namespace.
std::string ElementNamespace(pugi::xml_node element);

// The first child element with this local name (and namespace, when `ns` is given).
pugi::xml_node ChildNamed(pugi::xml_node parent, std::string_view localName,
                          std::string_view ns = {});

// The text of the first child element with this local name, trimmed; empty when none.
std::string ChildText(pugi::xml_node parent, std::string_view localName);

// The document as compact UTF-8 text, with an XML declaration.
std::string XmlDocumentText(const pugi::xml_document& doc);
