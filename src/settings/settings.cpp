#include "settings/settings.h"

#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <limits>

#include "base/atomic_file.h"
#include "base/text.h"
#include "base/utf16.h"
#include "settings/autostart_entry.h"
#include "settings/xdg_folders.h"

namespace {

// A registry read into a 16-byte buffer holds 7 UTF-16 characters and the terminator.
constexpr size_t kShortValueChars = 7;
constexpr size_t kStorageChars = 1024;

int DecimalInt(std::string_view text) {
    int64_t value = ParseDecimal(text);
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

}  // namespace

SettingsPaths DefaultSettingsPaths() {
    const std::string config = ConfigHome();
    return SettingsPaths{config + "/strelvane/settings.conf",
                         SystemConfigFile("strelvane/settings.conf"),
                         config + "/autostart/strelvane.desktop", ProgramPath()};
}

CSettings::CSettings(SettingsPaths paths, std::string locale)
    : paths_(std::move(paths)),
      locale_(std::move(locale)),
      user_(paths_.UserStore),
      system_(paths_.SystemStore) {}

void CSettings::SetLanguageApplier(std::function<void(int)> apply) {
    applyLanguage_ = std::move(apply);
}

std::optional<std::string> CSettings::ReadShortString(std::string_view name) const {
    std::optional<CValueStore::Value> value = user_.Read(name);
    if (!value || !value->IsString || Utf16Length(value->Text) > kShortValueChars) {
        return std::nullopt;
    }
    return value->Text;
}

void CSettings::LoadSettings() {
    // No installer creates the per-user store on this platform: the first start does,
    // so that settings saved later are kept.
    user_.Create();
    languageId_ = DefaultLanguageId();
    autoStart_ = false;
    if (auto language = ReadShortString("LangID")) languageId_ = DecimalInt(*language);
    if (auto autoStart = ReadShortString("AutoStart")) autoStart_ = ParseDecimal(*autoStart) != 0;
}

bool CSettings::SaveSetting(std::string_view name, std::string_view value) {
    if (!user_.Exists()) return false;
    // A failed write is silent and the value is applied all the same, as a registry
    // write that fails after the key opened would be.
    bool stored = user_.Write(name, value);
    if (EqualsNoCase(name, "AutoStart")) {
        if (ParseDecimal(value) == 1) {
            AddRunEntry();
        } else {
            RemoveRunEntry();
        }
    } else if (name == "LangID" && applyLanguage_) {
        applyLanguage_(DecimalInt(value));
    }
    return stored;
}

bool CSettings::SetAutoStart(bool on) {
    autoStart_ = on;
    user_.Write("AutoStart", on ? "1" : "0");
    if (on) AddRunEntry();
    if (!on) RemoveRunEntry();
    return AutoStartEntryExists() == on;
}

bool CSettings::AutoStartEntryExists() const {
    std::error_code ignored;
    return std::filesystem::is_regular_file(paths_.AutostartEntry, ignored);
}

void CSettings::SaveAutoCheckHour(int hour) {
    autoCheckHour_ = hour;
    user_.Write("AutoCheck", std::to_string(hour));
}

bool CSettings::AddRunEntry() const {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(paths_.AutostartEntry).parent_path(),
                                        ignored);
    return WriteFileAtomically(paths_.AutostartEntry, AutostartEntryText(paths_.ProgramPath), 0644);
}

bool CSettings::RemoveRunEntry() const { return ::unlink(paths_.AutostartEntry.c_str()) == 0; }

void CSettings::SetExitMode() const { user_.Write("EXIT_Mode", "1"); }

bool CSettings::IsExitModeSet() const {
    // Any value that fits the 16-byte buffer counts, whatever its type.
    std::optional<CValueStore::Value> value = user_.Read("EXIT_Mode");
    return value && Utf16Length(value->Text) <= kShortValueChars;
}

void CSettings::ClearExitMode() const { user_.Delete("EXIT_Mode"); }

int CSettings::DefaultLanguageId() const {
    return ProgramLanguageFor(WindowsLanguageOfLocale(locale_));
}

bool CSettings::FirstOfEachModel() const {
    std::optional<std::string> value = ReadShortString("FirstOfEachModel");
    return value && ParseDecimal(*value) == 1;
}

int CSettings::MaxFailures() const {
    std::optional<std::string> value = ReadShortString("MaxFailures");
    // A value that is no count is no limit.
    return value ? std::max(0, DecimalInt(*value)) : 0;
}

std::optional<CSettings::Unreadable> CSettings::Problem() const {
    for (const CValueStore* store : {&user_, &system_}) {
        if (std::string why = store->Problem(); !why.empty()) return Unreadable{store->Path(), why};
    }
    return std::nullopt;
}

std::string CSettings::Unreadable::Text() const {
    return "the settings file " + File + " cannot be read: " + Reason;
}

std::string CSettings::ReadStorageFolder() const {
    std::optional<CValueStore::Value> value = user_.Read("Storage");
    if (!value || !value->IsString || Utf16Length(value->Text) > kStorageChars) return {};
    return value->Text;
}

std::string CSettings::ReadProxyAddress() const {
    std::optional<CValueStore::Value> value = system_.Read("Proxy");
    return value && value->IsString ? value->Text : std::string();
}

std::string CSettings::ReadProxyUser() const {
    std::optional<CValueStore::Value> value = system_.Read("ProxyUser");
    return value && value->IsString ? value->Text : std::string();
}

bool CSettings::SaveProxy(const std::string& address, const std::string& user) const {
    if (address.empty()) {
        system_.Delete("Proxy");
        system_.Delete("ProxyUser");
        return !system_.Read("Proxy");
    }
    if (!system_.Write("Proxy", address)) return false;
    if (!user.empty()) return system_.Write("ProxyUser", user);
    system_.Delete("ProxyUser");
    return true;
}

std::string CSettings::ReadServerUrl() const {
    std::optional<CValueStore::Value> value = system_.Read("URL");
    return value && value->IsString ? value->Text : std::string();
}
