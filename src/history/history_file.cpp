#include "history/history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/result_codes.h"
#include "base/text.h"
#include "base/utf16.h"
#include "settings/xdg_folders.h"

namespace {

// The format's mark at the start of every line; a later format gets another.
constexpr std::string_view kFormat = "H1";
// The last field of every line: a line cut anywhere before its end lacks it.
constexpr std::string_view kEndMark = "end";
constexpr size_t kFields = 14;
// Device texts are short; the cap keeps a line far below what one write() may split.
constexpr size_t kFieldBytes = 256;

// The longest prefix of at most `limit` bytes that does not split a character.
std::string_view CutUtf8(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void AppendField(std::string& line, std::string_view value) {
    line += '\t';
    const std::string valid = ToValidUtf8(value);
    for (char c : CutUtf8(valid, kFieldBytes)) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) line += c;
        }
    }
}

// Splits at tabs and undoes the escapes; false on an escape that was never written.
bool SplitFields(std::string_view line, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c != '\\') {
            fields.back() += c;
        } else if (++i < line.size()) {
            const char e = line[i];
            if (e == '\\') {
                fields.back() += '\\';
            } else if (e == 't') {
                fields.back() += '\t';
            } else if (e == 'n') {
                fields.back() += '\n';
            } else if (e == 'r') {
                fields.back() += '\r';
            } else {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
    }
    value = ParseDecimal(text);
    return true;
}

}  // namespace

std::string DefaultHistoryFile() { return StateHome() + "/strelvane/history.tsv"; }

std::string EncodeHistoryLine(const UpgradeHistoryRecord& r) {
    std::string line(kFormat);
    line += '\t';
    line += UtcTimeText(r.Time);
    for (const std::string* text : {&r.DeviceId, &r.DeviceName, &r.Model, &r.Mac, &r.Address,
                                    &r.VersionBefore, &r.VersionAfter}) {
        AppendField(line, *text);
    }
    line += '\t';
    line += std::to_string(r.Code);
    for (const std::string* text : {&r.ResultText, &r.ImageFile, &r.ImageMd5}) {
        AppendField(line, *text);
    }
    line += '\t';
    line += kEndMark;
    line += '\n';
    return line;
}

std::optional<UpgradeHistoryRecord> DecodeHistoryLine(std::string_view line) {
    std::vector<std::string> f;
    if (!SplitFields(line, f) || f.size() != kFields || f[0] != kFormat ||
        f[kFields - 1] != kEndMark) {
        return std::nullopt;
    }
    UpgradeHistoryRecord r;
    std::tm parts{};
    const char* end = ::strptime(f[1].c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (!end || *end != '\0') return std::nullopt;
    r.Time = ::timegm(&parts);
    int64_t code = 0;
    if (!ParseNumber(f[9], code) || code < INT32_MIN || code > INT32_MAX) return std::nullopt;
    r.Code = static_cast<int>(code);
    std::string* texts[] = {&r.DeviceId, &r.DeviceName,    &r.Model,       &r.Mac,
                            &r.Address,  &r.VersionBefore, &r.VersionAfter};
    for (size_t i = 0; i < std::size(texts); ++i) *texts[i] = std::move(f[2 + i]);
    r.ResultText = std::move(f[10]);
    r.ImageFile = std::move(f[11]);
    r.ImageMd5 = std::move(f[12]);
    return r;
}

int AppendHistory(const std::string& path, const UpgradeHistoryRecord& record,
                  std::string* problem) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const int fd = OpenRegularFile(path, O_RDWR | O_APPEND | O_CREAT, 0600);
    if (fd < 0) {
        if (problem) *problem = FileErrorText(errno);
        return rc::kFileOpenFailed;
    }
    std::string line = EncodeHistoryLine(record);
    bool written = false;
    if (::flock(fd, LOCK_EX) == 0) {
        // A line cut short by a crash stays a line of its own, skipped by readers; the
        // new record must not be glued to it.
        struct stat st {};
        char last = '\n';
        if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1) {
            last = '\n';
        }
        if (last != '\n') line.insert(line.begin(), '\n');
        written = WriteAll(fd, line) && ::fdatasync(fd) == 0;
    }
    if (!written && problem) *problem = FileErrorText(errno);
    ::close(fd);  // also releases the lock
    return written ? rc::kOk : rc::kFailed;
}

std::string HistoryProblemText(int count, const std::string& file, const std::string& reason) {
    return std::to_string(count) + (count == 1 ? " outcome" : " outcomes") +
           " could not be recorded in the history " + file + ": " + reason;
}

std::vector<UpgradeHistoryRecord> ReadHistory(const std::string& path, int* skipped,
                                              std::string* problem) {
    std::vector<UpgradeHistoryRecord> records;
    if (skipped) *skipped = 0;
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        if (problem && errno != ENOENT) *problem = FileErrorText(errno);
        return records;
    }
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);
        // A last line without its line feed was cut short.
        std::optional<UpgradeHistoryRecord> record;
        if (end != std::string::npos) {
            record = DecodeHistoryLine(std::string_view(bytes).substr(start, end - start));
        }
        if (record) {
            records.push_back(std::move(*record));
        } else if (end == std::string::npos || end > start) {
            if (skipped) ++*skipped;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return records;
}
