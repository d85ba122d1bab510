#include "layout/profile_text.h"

#include <sys/stat.h>
#include <sstream>

#include "base/text.h"
#include "base/utf16.h"
#include "settings/xdg_folders.h"

namespace {

std::string DecodeProfileBytes(std::string_view bytes) {
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (StartsWith(bytes, "\xFF\xFE")) return Utf16LeToUtf8(bytes.substr(2));
    return std::string(bytes);
}

}  // namespace

CProfileText CProfileText::Parse(std::string_view bytes) {
    CProfileText profile;
    std::istringstream in(DecodeProfileBytes(bytes));
    Section* current = nullptr;
    for (std::string raw; std::getline(in, raw);) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos) continue;  // a broken header opens nothing
            profile.sections_.push_back({Trim(std::string_view(line).substr(1, close - 1)), {}});
            current = &profile.sections_.back();
            continue;
        }
        if (!current) continue;  // keys before the first section cannot be looked up
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            current->Keys.emplace_back(line, std::nullopt);
        } else {
            current->Keys.emplace_back(Trim(std::string_view(line).substr(0, equals)),
                                       Trim(std::string_view(line).substr(equals + 1)));
        }
    }
    return profile;
}

std::optional<std::string> CProfileText::Find(std::string_view section,
                                              std::string_view key) const {
    const std::string sectionName = Trim(section);
    const std::string keyName = Trim(key);
    for (const Section& s : sections_) {
        if (!EqualsNoCase(s.Name, sectionName)) continue;
        for (const auto& [name, value] : s.Keys) {
            if (EqualsNoCase(name, keyName)) return value;
        }
        return std::nullopt;  // only the first section of a name is searched
    }
    return std::nullopt;
}

std::string ProfileValue(std::string_view raw) {
    if (raw.size() > 1 && (raw.front() == '"' || raw.front() == '\'') &&
        raw.back() == raw.front()) {
        raw = raw.substr(1, raw.size() - 2);
    }
    return std::string(TruncateToUtf16Units(raw, kProfileTextLimit));
}

std::string CProfileCache::Read(const std::string& path, std::string_view section,
                                std::string_view key, std::string_view def) {
    std::optional<std::string> found = Find(path, section, key);
    return found ? *found : std::string(TruncateToUtf16Units(def, kProfileTextLimit));
}

std::optional<std::string> CProfileCache::Find(const std::string& path, std::string_view section,
                                               std::string_view key) {
    std::shared_ptr<const CProfileText> text = Load(path);
    std::optional<std::string> raw = text ? text->Find(section, key) : std::nullopt;
    if (!raw) return std::nullopt;
    return ProfileValue(*raw);
}

std::shared_ptr<const CProfileText> CProfileCache::Load(const std::string& path) {
    struct stat st {};
    std::lock_guard lock(mutex_);
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        files_.erase(path);
        return nullptr;
    }
    const Stamp stamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                      static_cast<int64_t>(st.st_size),
                      static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    auto found = files_.find(path);
    if (found != files_.end() && found->second.FileStamp == stamp) return found->second.Text;
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        files_.erase(path);
        return nullptr;
    }
    auto text = std::make_shared<const CProfileText>(CProfileText::Parse(bytes));
    files_[path] = Entry{stamp, text};
    return text;
}
