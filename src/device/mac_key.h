#pragma once

#include <string>

// A MAC address as compared: the twelve hex digits in upper case, separators (':', '-',
// '.') dropped; empty when the text does not hold exactly twelve hex digits that way, or
// holds all zeros or all ones (placeholders that many devices share, no identity).
std::string MacKey(const std::string& text);

// True when both texts name the same MAC address; an empty, malformed or placeholder one
// never matches.
bool SameMac(const std::string& a, const std::string& b);

// True when the device answered naming a MAC that is surely not the awaited one: both
// are real MAC addresses, and they differ.
bool NamesAnotherMac(const std::string& named, const std::string& awaited);
