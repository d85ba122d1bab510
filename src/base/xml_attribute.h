#pragma once

#include <string>
#include <string_view>

// `text` ready to stand between the double quotes of an XML attribute in the files we
// write: escapes what would break the attribute or be changed by the reader's white-space
// normalisation (tab, line feed, carriage return). Texts without these characters come
// out unchanged.
std::string XmlAttributeText(std::string_view text);
