#include "schedule/schedule_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <limits>
#include <pugixml.hpp>
#include <vector>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "base/xml_attribute.h"

namespace {

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<PLAYER_SETTING Version=\"0.1\">\n"
    "<NODE dis=\"Schedule\">";
constexpr const char* kTrailer = "\n</NODE>\n</PLAYER_SETTING>";

int32_t Int32Of(const char* text) {
    int64_t value = ParseDecimal(text);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

constexpr const char* kAttributes[] = {"IP",     "Port",        "Https", "Account",     "Password",
                                       "Device", "Model",       "MAC",   "Version",     "FWPath",
                                       "Status", "UpgradeTime", "Until", "OnvifService"};

bool KnownAttribute(std::string_view name) {
    for (const char* known : kAttributes) {
        if (name == known) return true;
    }
    return false;
}

CScheduleInfo EntryOf(const pugi::xml_node& node) {
    CScheduleInfo entry;
    // Attribute names are case-sensitive; absent attributes keep the new-record value.
    auto text = [&](const char* name, std::string& field) {
        if (pugi::xml_attribute a = node.attribute(name)) field = a.value();
    };
    text("IP", entry.IP);
    text("Port", entry.Port);
    if (pugi::xml_attribute a = node.attribute("Https"))
        entry.Https = std::string_view(a.value()) == "1";
    text("Account", entry.Account);
    text("Password", entry.Password);
    text("Device", entry.Device);
    text("Model", entry.Model);
    text("MAC", entry.MAC);
    text("Version", entry.Version);
    // A time too large to read is no time (0): such an entry is incomplete, not one that
    // runs at some wrapped moment.
    if (pugi::xml_attribute a = node.attribute("UpgradeTime")) {
        const int64_t time = ParseDecimal(a.value());
        entry.UpgradeTime = IsSaturatedDecimal(time) ? 0 : time;
    }
    if (pugi::xml_attribute a = node.attribute("Status")) entry.Status = Int32Of(a.value());
    text("FWPath", entry.FWPath);
    text("Until", entry.Until);
    text("OnvifService", entry.OnvifService);
    return entry;
}

}  // namespace

std::string ScheduleFilePath(const std::string& documentsFolder) {
    return documentsFolder + "/Strelvane/fw_config.xml";
}

std::string ScheduleFileText(const std::vector<CScheduleInfo>& entries) {
    std::string text = kHeader;
    for (const CScheduleInfo& e : entries) {
        const int status =
            e.Status == schedule_status::kQueued ? schedule_status::kWaiting : e.Status;
        // Only an entry with a window has the attribute, so a file without windows stays
        // as it always was; older programs pass over an attribute they do not know.
        const std::string until =
            e.Until.empty() ? std::string() : " Until=\"" + XmlAttributeText(e.Until) + "\"";
        // The full 64-bit time: a 32-bit one would turn times after 2038-01-19 negative.
        text += StrFormat(
            "\n\t<NVR IP=\"%s\" Port=\"%s\" Https=\"%s\" Account=\"%s\" Password=\"%s\" "
            "Device=\"%s\" Model=\"%s\" MAC=\"%s\" Version=\"%s\" FWPath=\"%s\" Status=\"%d\" "
            "UpgradeTime=\"%" PRId64 "\"%s />",
            XmlAttributeText(e.IP).c_str(), XmlAttributeText(e.Port).c_str(), e.Https ? "1" : "0",
            XmlAttributeText(e.Account).c_str(), XmlAttributeText(e.Password).c_str(),
            XmlAttributeText(e.Device).c_str(), XmlAttributeText(e.Model).c_str(),
            XmlAttributeText(e.MAC).c_str(), XmlAttributeText(e.Version).c_str(),
            XmlAttributeText(e.FWPath).c_str(), status, e.UpgradeTime, until.c_str());
        // Only cameras carry it, so that a maker's entry is written as it always was.
        if (!e.OnvifService.empty()) {
            text.insert(text.size() - 3,
                        " OnvifService=\"" + XmlAttributeText(e.OnvifService) + "\"");
        }
    }
    return text + kTrailer;
}

bool SaveSchedule(const std::string& path, const std::vector<CScheduleInfo>& entries) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return WriteFileAtomically(path, ScheduleFileText(entries), 0600);
}

ScheduleFileRead ReadScheduleFile(const std::string& path) {
    ScheduleFileRead read;
    std::string bytes;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return read;
    if (!ReadFileBytes(path, bytes)) {
        read.State = ScheduleFileState::Unreadable;
        read.Error = path + " cannot be read: " + FileErrorText(errno);
        return read;
    }
    read.State = ScheduleFileState::Ok;
    if (bytes.empty()) return read;
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
    if (!parsed || !document.document_element()) {
        read.State = ScheduleFileState::Malformed;
        read.Error = path + " is not well-formed XML (" + parsed.description() + " at byte " +
                     std::to_string(parsed.offset) + ")";
        return read;
    }
    bool schedule = false;
    // Any name is accepted for the document element.
    for (pugi::xml_node node : document.document_element().children()) {
        if (node.type() != pugi::node_element) continue;
        if (std::string_view(node.name()) != "NODE" ||
            !ContainsNoCase(node.attribute("dis").value(), "Schedule")) {
            read.DropsSomething = true;
            continue;
        }
        schedule = true;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            if (!ContainsNoCase(child.name(), "NVR")) {
                read.DropsSomething = true;
                continue;
            }
            for (pugi::xml_attribute a : child.attributes()) {
                if (!KnownAttribute(a.name())) read.DropsSomething = true;
            }
            CScheduleInfo entry = EntryOf(child);
            if (IsCompleteScheduleEntry(entry)) {
                read.Entries.push_back(std::move(entry));
            } else {
                read.DropsSomething = true;
            }
        }
    }
    if (!schedule) {
        read.State = ScheduleFileState::Foreign;
        read.Error = path + " is not a schedule file (it has no schedule section)";
    }
    return read;
}

std::vector<CScheduleInfo> LoadSchedule(const std::string& path) {
    return ReadScheduleFile(path).Entries;
}

bool IsCompleteScheduleEntry(const CScheduleInfo& e) {
    return !e.IP.empty() && !e.Port.empty() && !e.Account.empty() && !e.Password.empty() &&
           !e.Device.empty() && !e.Model.empty() && !e.MAC.empty() && !e.Version.empty() &&
           !e.FWPath.empty() && e.UpgradeTime != 0;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHostNameCharacter(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

// The dot-separated labels of `text`; none when one of them is empty.
std::vector<std::string> Labels(const std::string& text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string::npos) {
        return {};
    }
    return SplitAny(text, ".");
}

bool IsIpv4Address(const std::vector<std::string>& parts) {
    if (parts.size() != 4) return false;
    for (const std::string& part : parts) {
        // No leading zero: some readers take it for octal.
        if (part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
        if (!std::all_of(part.begin(), part.end(), IsDigit) || std::stoi(part) > 255) return false;
    }
    return true;
}

bool IsHostName(const std::string& text, const std::vector<std::string>& labels) {
    if (labels.empty() || text.size() > 253) return false;
    for (const std::string& label : labels) {
        if (label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            !std::all_of(label.begin(), label.end(), IsHostNameCharacter)) {
            return false;
        }
    }
    // All digits at the end is a mistyped IPv4 address, not a name.
    return !std::all_of(labels.back().begin(), labels.back().end(), IsDigit);
}

}  // namespace

bool IsUsableHost(const std::string& host) {
    const std::vector<std::string> labels = Labels(host);
    return IsIpv4Address(labels) || IsHostName(host, labels);
}

bool IsUsablePort(const std::string& port) {
    // Only as the program writes it: no sign, blank or leading zero.
    return !port.empty() && port.size() <= 5 && port[0] != '0' &&
           std::all_of(port.begin(), port.end(), IsDigit) && std::stoi(port) <= 65535;
}

bool HasUsableAddress(const CScheduleInfo& e) {
    return IsUsableHost(e.IP) && IsUsablePort(e.Port) &&
           (e.OnvifService.empty() || IsUsableServicePath(e.OnvifService));
}

bool IsUsableServicePath(const std::string& path) {
    if (path.size() < 2 || path.size() > 255 || path[0] != '/' || path[1] == '/') return false;
    return std::all_of(path.begin(), path.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("-._~%!$&'()*+,;=:@/").find(c) != std::string_view::npos;
    });
}
