#include "settings/value_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "base/utf16.h"
#include "settings/xdg_folders.h"

namespace {

struct Line {
    std::string Raw;
    std::string Name;  // empty for lines that hold no value
    std::string Value;
};

std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    std::istringstream in(bytes);
    for (std::string raw; std::getline(in, raw);) {
        Line line{raw, {}, {}};
        std::string trimmed = Trim(raw);
        size_t equals = trimmed.find('=');
        if (!trimmed.empty() && trimmed[0] != '#' && equals != std::string::npos &&
            trimmed.find('\0') == std::string::npos) {
            line.Name = Trim(std::string_view(trimmed).substr(0, equals));
            line.Value = Trim(std::string_view(trimmed).substr(equals + 1));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

CValueStore::CValueStore(std::string path) : path_(std::move(path)) {}

bool CValueStore::Exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<CValueStore::Value> CValueStore::Read(std::string_view name) const {
    std::string bytes;
    if (name.empty() || !ReadWholeFile(path_, bytes)) return std::nullopt;
    for (const Line& line : SplitLines(bytes)) {
        if (!line.Name.empty() && EqualsNoCase(line.Name, name)) {
            return Value{line.Value, IsValidUtf8(line.Value)};
        }
    }
    return std::nullopt;
}

std::string CValueStore::Problem() const {
    std::string bytes;
    if (ReadFileBytes(path_, bytes) || errno == ENOENT) return {};
    return FileErrorText(errno);
}

bool CValueStore::Create() const {
    RemoveStaleTemporaries(path_);
    if (Exists()) return true;
    // Something that is no file of ours (a folder, a FIFO) is left where it is.
    if (PathExists(path_)) return false;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
    return WriteFileAtomically(path_, "", 0644);
}

bool CValueStore::Write(std::string_view name, std::string_view value) const {
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
    std::string text(value);
    return Rewrite(name, &text);
}

bool CValueStore::Delete(std::string_view name) const { return Rewrite(name, nullptr); }

bool CValueStore::Rewrite(std::string_view name, const std::string* value) const {
    // A zero byte would be written but never read back (SplitLines skips such lines).
    if (name.empty() ||
        name.find_first_of(std::string_view("=\r\n#\0", 5)) != std::string_view::npos ||
        Trim(name) != name) {
        return false;
    }
    std::string bytes;
    const bool existed = Exists();
    // A file that is there but cannot be read, or something there that is not a regular
    // file, is left alone rather than replaced.
    if (existed ? !ReadWholeFile(path_, bytes) : !value || PathExists(path_)) return false;
    if (!existed) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
    }
    std::string out;
    bool found = false;
    for (const Line& line : SplitLines(bytes)) {
        if (line.Name.empty() || !EqualsNoCase(line.Name, name)) {
            out += line.Raw + "\n";
        } else if (value && !found) {
            out += std::string(name) + "=" + *value + "\n";
            found = true;
        } else {
            found = true;  // a later duplicate of the name, or the name being deleted
        }
    }
    if (!value && !found) return false;
    if (value && !found) out += std::string(name) + "=" + *value + "\n";
    return WriteFileAtomically(path_, out, 0644);
}
