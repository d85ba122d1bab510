#pragma once

#include <optional>
#include <string>
#include <string_view>

// One settings file standing in for a registry key: a text file of `Name=Value` lines.
// Names compare without regard to case, as registry value names do; the first line of
// a name holds its value. Blank lines, lines starting with '#' and lines that cannot be
// read are skipped when reading and kept as they are when a value is written, so a
// damaged file is never made worse. Values are single-line texts; the blanks around
// names and values are not part of them.
//
// The key "exists" exactly when the file exists, even when it is empty.
class CValueStore {
public:
    struct Value {
        std::string Text;
        // False for a value that could not be a registry string (bytes that are not
        // UTF-8): readers that want a string treat it as a value of another type.
        bool IsString = true;
    };

    explicit CValueStore(std::string path);

    const std::string& Path() const { return path_; }
    bool Exists() const;

    std::optional<Value> Read(std::string_view name) const;

    // Why the file cannot be read when something is there that cannot ("not a regular
    // file" for a FIFO, "Permission denied"); empty when it can, or when there is none.
    // Reads give no value meanwhile, and writes leave it alone.
    std::string Problem() const;

    // Creates the key (an empty file, and its folder) when it does not exist, as an
    // installer would; removes what killed saves left behind. True when it exists.
    bool Create() const;

    // Stores `value` under `name`, creating the file (and its folder) when needed. A
    // value holding a line break or a zero byte cannot be stored. False when nothing
    // was stored; the file is replaced atomically, so it is never left half-written.
    bool Write(std::string_view name, std::string_view value) const;

    // Removes every line of `name`. False when the name was absent or the file could
    // not be rewritten.
    bool Delete(std::string_view name) const;

private:
    bool Rewrite(std::string_view name, const std::string* value) const;

    std::string path_;
};
