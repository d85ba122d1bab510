#include "upgrade/in_flight_journal.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>

#include "base/atomic_file.h"
#include "base/file_lock.h"
#include "base/text.h"
#include "base/trace.h"

namespace {

constexpr std::string_view kFormat = "J1";
constexpr std::string_view kEndMark = "end";
constexpr size_t kFields = 19;
// A journal holds the devices of a few runs; anything far larger is not ours.
constexpr size_t kMostBytes = 1 << 20;
constexpr size_t kMostEntries = 4096;
constexpr size_t kFieldBytes = 512;
// Another process holds the lock only while it rewrites the small file.
constexpr auto kLockWait = std::chrono::seconds(5);

// Fields are device texts: tabs, line breaks and other control characters have no
// meaning in them and would break the line, so they are dropped.
std::string Clean(std::string_view text) {
    std::string clean;
    for (char c : text.substr(0, std::min(text.size(), kFieldBytes))) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) clean += c;
    }
    return clean;
}

bool ParseWhole(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = ParseDecimal(text);
    return value >= low && value <= high;
}

// A host the journal may send a request to: an address or a name, nothing that would
// change the request's URL.
bool SoundHost(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    for (char c : host) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == ':' || c == '[' ||
                        c == ']';
        if (!ok) return false;
    }
    return true;
}

std::string LockPath(const std::string& path) { return path + ".lock"; }

std::vector<InFlightDevice> ReadEntries(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kMostBytes) {
        Trace("in-flight journal %s is too large to be one; it is ignored", path.c_str());
        return {};
    }
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        if (errno != ENOENT) Trace("in-flight journal %s cannot be read", path.c_str());
        return {};
    }
    if (bytes.size() > kMostBytes) return {};
    int skipped = 0;
    std::vector<InFlightDevice> devices = DecodeInFlight(bytes, &skipped);
    if (skipped > 0)
        Trace("in-flight journal %s: %d damaged entries left out", path.c_str(), skipped);
    return devices;
}

void WriteEntries(const std::string& path, const std::vector<InFlightDevice>& devices) {
    std::error_code error;
    if (devices.empty()) {
        std::filesystem::remove(path, error);
        return;
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (!WriteFileAtomically(path, EncodeInFlight(devices), 0600)) {
        Trace("in-flight journal %s cannot be written", path.c_str());
    }
}

// Runs `change` on the file's entries under the lock and saves what it leaves when it
// returns true.
template <typename Change>
void Modify(const std::string& path, Change change) {
    if (path.empty()) return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::optional<CFileLock> lock = CFileLock::TryAcquire(LockPath(path), kLockWait);
    if (!lock) {
        Trace("in-flight journal %s: its lock cannot be taken", path.c_str());
        return;
    }
    std::vector<InFlightDevice> devices = ReadEntries(path);
    if (change(devices)) WriteEntries(path, devices);
}

bool ProcessLives(int64_t pid) {
    if (pid <= 0) return false;
    if (pid == ::getpid()) return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

const char* OriginText(InFlightOrigin origin) {
    return origin == InFlightOrigin::Schedule ? "schedule" : "upgrade";
}

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string InFlightJournalFile(const std::string& historyPath) {
    return (std::filesystem::path(historyPath).parent_path() / "in-flight.tsv").string();
}

std::string EncodeInFlight(const std::vector<InFlightDevice>& devices) {
    std::string text;
    for (const InFlightDevice& d : devices) {
        const std::string fields[] = {std::string(kFormat),
                                      Clean(d.Key),
                                      OriginText(d.Origin),
                                      std::to_string(d.Pid),
                                      std::to_string(d.Began),
                                      Clean(d.DeviceId),
                                      Clean(d.Mac),
                                      Clean(d.DeviceName),
                                      Clean(d.Model),
                                      Clean(d.Scheme),
                                      Clean(d.Host),
                                      std::to_string(d.Port),
                                      FactsOf(d.Protocol).Name,
                                      Clean(d.ServiceAddress),
                                      Clean(d.User),
                                      Clean(d.VersionBefore),
                                      d.ImagesFromStore ? "1" : "0",
                                      Clean(d.ImagePath),
                                      std::string(kEndMark)};
        static_assert(std::size(fields) == kFields);
        for (size_t i = 0; i < kFields; ++i) {
            if (i > 0) text += '\t';
            text += fields[i];
        }
        text += '\n';
    }
    return text;
}

std::vector<InFlightDevice> DecodeInFlight(std::string_view text, int* skipped) {
    std::vector<InFlightDevice> devices;
    int bad = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        // A last line without its line feed was cut short.
        if (end == std::string_view::npos) {
            ++bad;
            break;
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        std::vector<std::string> f;
        f.emplace_back();
        for (char c : line) {
            if (c == '\t') {
                f.emplace_back();
            } else {
                f.back() += c;
            }
        }
        InFlightDevice d;
        int64_t pid = 0;
        int64_t began = 0;
        int64_t port = 0;
        const bool sound =
            f.size() == kFields && f[0] == kFormat && f[kFields - 1] == kEndMark && !f[1].empty() &&
            (f[2] == "upgrade" || f[2] == "schedule") && ParseWhole(f[3], 1, INT32_MAX, pid) &&
            ParseWhole(f[4], 0, INT64_MAX / 2, began) && (f[9] == "http" || f[9] == "https") &&
            SoundHost(f[10]) && ParseWhole(f[11], 1, 65535, port) &&
            (f[12] == "maker" || f[12] == "onvif") && (f[16] == "0" || f[16] == "1");
        if (!sound || devices.size() >= kMostEntries) {
            ++bad;
            continue;
        }
        d.Key = f[1];
        d.Origin = f[2] == "schedule" ? InFlightOrigin::Schedule : InFlightOrigin::Upgrade;
        d.Pid = pid;
        d.Began = began;
        d.DeviceId = f[5];
        d.Mac = f[6];
        d.DeviceName = f[7];
        d.Model = f[8];
        d.Scheme = f[9];
        d.Host = f[10];
        d.Port = static_cast<int>(port);
        // A name no protocol has (a newer program's) reads as the maker's, as before.
        d.Protocol = ProtocolNamed(f[12]).value_or(DeviceProtocol::Maker);
        d.ServiceAddress = f[13];
        d.User = f[14];
        d.VersionBefore = f[15];
        d.ImagesFromStore = f[16] == "1";
        d.ImagePath = f[17];
        devices.push_back(std::move(d));
    }
    if (skipped) *skipped = bad;
    return devices;
}

void CInFlightJournal::UploadBegins(InFlightDevice device) const {
    device.Pid = ::getpid();
    if (device.Began == 0) device.Began = NowSeconds();
    device.Key = Clean(device.Key);
    Modify(path_, [&](std::vector<InFlightDevice>& devices) {
        std::erase_if(devices, [&](const InFlightDevice& d) {
            return d.Origin == device.Origin && d.Key == device.Key && d.Pid == device.Pid;
        });
        if (devices.size() >= kMostEntries) return false;
        devices.push_back(device);
        return true;
    });
}

void CInFlightJournal::OutcomeRecorded(InFlightOrigin origin, const std::string& key) const {
    const std::string clean = Clean(key);
    const int64_t pid = ::getpid();
    Modify(path_, [&](std::vector<InFlightDevice>& devices) {
        return std::erase_if(devices, [&](const InFlightDevice& d) {
                   return d.Origin == origin && d.Key == clean && d.Pid == pid;
               }) > 0;
    });
}

std::vector<InFlightDevice> CInFlightJournal::TakeOrphans(InFlightOrigin origin) const {
    std::vector<InFlightDevice> taken;
    Modify(path_, [&](std::vector<InFlightDevice>& devices) {
        std::erase_if(devices, [&](const InFlightDevice& d) {
            // This process's own entries are its runs' (a late watch handed on is not).
            if (d.Origin != origin || ProcessLives(d.Pid)) return false;
            taken.push_back(d);
            return true;
        });
        return !taken.empty();
    });
    return taken;
}

std::vector<InFlightDevice> CInFlightJournal::Entries() const {
    if (path_.empty()) return {};
    std::optional<CFileLock> lock = CFileLock::TryAcquire(LockPath(path_), kLockWait);
    return lock ? ReadEntries(path_) : std::vector<InFlightDevice>{};
}
