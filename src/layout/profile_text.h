#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Lookups in INI ("private profile") files with the rules of the Windows profile
// functions the layout files were written for: section and key names compare without
// regard to case, blanks around names and values do not count, a value enclosed in
// matching single or double quotes loses them, a key line without '=' has no value,
// and only the first section of a name and the first key of a name count. Lines
// starting with ';' are comments.

// The longest text a lookup returns, in UTF-16 characters (a 1024-character buffer).
constexpr size_t kProfileTextLimit = 1023;

// One parsed profile file.
class CProfileText {
public:
    // Reads UTF-8 (with or without byte-order mark) and UTF-16LE with byte-order mark.
    static CProfileText Parse(std::string_view bytes);

    // The raw value of section/key, or nothing when the section, key or value is missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

private:
    struct Section {
        std::string Name;
        std::vector<std::pair<std::string, std::optional<std::string>>> Keys;
    };
    std::vector<Section> sections_;
};

// The value as a lookup returns it: unquoted and cut to kProfileTextLimit characters.
std::string ProfileValue(std::string_view raw);

// Reads texts from profile files, parsing each file only again when it changed (path,
// size, modification time or file identity), since a page reads dozens of keys from
// the same file. Safe to share between threads.
class CProfileCache {
public:
    // section/key of the file at `path`, else `def` (cut to the same limit).
    std::string Read(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view def);
    // section/key of the file at `path`; nothing when the file, section or key is missing.
    std::optional<std::string> Find(const std::string& path, std::string_view section,
                                    std::string_view key);

private:
    struct Stamp {
        uint64_t Device = 0;
        uint64_t Inode = 0;
        int64_t Size = 0;
        int64_t ModifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        Stamp FileStamp;
        std::shared_ptr<const CProfileText> Text;
    };

    std::shared_ptr<const CProfileText> Load(const std::string& path);

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> files_;
};
