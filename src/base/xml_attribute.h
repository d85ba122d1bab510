#pragma once

#include <string>
#include <string_view>

// `text` ready to stand between the double quotes of an XML attribute in the files we
// write: escapes what would break the attribute or be changed by the reader's white-space
// normalisation (tab, line feed, carriage return), turns malformed UTF-8 into U+FFFD and
// drops the characters XML 1.0 does not allow at all (other control characters, U+FFFE,
// U+FFFF), so the file stays readable whatever a device or a server sent. Texts without
// these characters come out unchanged.
std::string XmlAttributeText(std::string_view text);
