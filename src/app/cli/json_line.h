#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Builds one JSON object on one line, for the command-line tool's machine-readable
// output: JsonLine().Add("DeviceId", id).Add("stage", 3).Text().
class JsonLine {
public:
    JsonLine& Add(std::string_view key, std::string_view value);
    JsonLine& Add(std::string_view key, const char* value) {
        return Add(key, std::string_view(value));
    }
    JsonLine& Add(std::string_view key, const std::string& value) {
        return Add(key, std::string_view(value));
    }
    JsonLine& Add(std::string_view key, int64_t value);
    JsonLine& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
    JsonLine& Add(std::string_view key, bool value);

    std::string Text() const { return body_ + "}"; }

private:
    void Key(std::string_view key);

    std::string body_ = "{";
};

// JSON string escaping (quotes, backslash, control characters); UTF-8 passes through.
std::string JsonEscape(std::string_view text);
