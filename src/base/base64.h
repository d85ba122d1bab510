#pragma once

#include <string>
#include <string_view>

// Standard Base64 (RFC 4648, with padding) of arbitrary bytes.
std::string EncodeBase64(std::string_view bytes);
