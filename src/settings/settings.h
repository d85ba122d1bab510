#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/language_ids.h"
#include "settings/value_store.h"

// Where the settings live. The defaults follow the XDG folders; tests and the lab
// point them elsewhere.
struct SettingsPaths {
    std::string UserStore;    // per-user values: $XDG_CONFIG_HOME/strelvane/settings.conf
    std::string SystemStore;  // machine-wide values (URL): <XDG config dir>/strelvane/settings.conf
    std::string AutostartEntry;  // $XDG_CONFIG_HOME/autostart/strelvane.desktop
    std::string ProgramPath;     // this program, for the autostart command line
};

SettingsPaths DefaultSettingsPaths();

// The program's few persistent settings and the in-memory copies the main window works
// with. Value names and text forms: LangID (decimal language identifier), AutoStart
// ("1"/"0"), AutoCheck (decimal hour), EXIT_Mode ("1" while a shut-down runs), Storage
// (firmware store folder), FirstOfEachModel ("1"/"0") and MaxFailures (decimal, 0: no
// limit) per user; URL (firmware server base) machine-wide. Every
// failure is silent: reads fall back to defaults, writes are skipped. Used on one
// thread (the user-interface thread).
class CSettings {
public:
    explicit CSettings(SettingsPaths paths = DefaultSettingsPaths(),
                       std::string locale = SystemLocaleName());

    // Switches the program's language; SaveSetting("LangID", ...) calls it.
    void SetLanguageApplier(std::function<void(int languageId)> apply);

    // Creates the per-user store when it does not exist yet (the first start), then:
    // language := LangID when readable, else DefaultLanguageId(); auto-start := AutoStart
    // is non-zero. A value is read only when it is a string of at most 7 characters (it
    // must fit 16 bytes as UTF-16 with its terminator); numbers parse as leading decimal
    // digits, so "abc" reads 0.
    void LoadSettings();

    // Stores one value and applies it: "AutoStart" (any case) adds the autostart entry
    // when the value is 1 and removes it otherwise; "LangID" calls the language applier.
    // Does nothing at all while the store does not exist yet. True when stored.
    bool SaveSetting(std::string_view name, std::string_view value);

    // Automatic start at log-on, as the tray item and the Setting page's box switch it:
    // stores AutoStart (creating the store) and adds or removes the autostart entry. True
    // when the entry now is as asked.
    bool SetAutoStart(bool on);
    // Whether the autostart entry exists: what both controls show.
    bool AutoStartEntryExists() const;
    // Sets the in-memory hour and stores AutoCheck, creating the store.
    void SaveAutoCheckHour(int hour);

    // Write or remove the autostart entry; true when the change was made.
    bool AddRunEntry() const;
    bool RemoveRunEntry() const;

    // The exit-in-progress flag: only its presence counts.
    void SetExitMode() const;
    bool IsExitModeSet() const;
    void ClearExitMode() const;

    // The program language for the system locale.
    int DefaultLanguageId() const;

    // A settings file that is there but cannot be read (a FIFO, a folder, no
    // permission); none when both can be used. Meanwhile reads give the defaults and
    // writes leave it alone.
    struct Unreadable {
        std::string File;
        std::string Reason;        // "not a regular file"
        std::string Text() const;  // "the settings file FILE cannot be read: REASON"
    };
    std::optional<Unreadable> Problem() const;

    // Storage (up to 1024 characters) and the machine-wide URL; empty when absent.
    std::string ReadStorageFolder() const;
    std::string ReadServerUrl() const;

    // The proxy to the firmware server, machine-wide like URL: `Proxy` (address) and
    // `ProxyUser`. There is no keyring here, so its password is never written: the
    // program keeps it for the run. Empty when absent.
    std::string ReadProxyAddress() const;
    std::string ReadProxyUser() const;
    // Stores both (an empty address removes both); false when the machine-wide file
    // cannot be written (it is usually the administrator's).
    bool SaveProxy(const std::string& address, const std::string& user) const;

    // The guards of an upgrade batch, as the Setting page stores them; read anew each time.
    bool FirstOfEachModel() const;
    int MaxFailures() const;

    int LanguageId() const { return languageId_; }
    bool AutoStart() const { return autoStart_; }
    // No hour until one is chosen: AutoCheck is written but never read back.
    std::optional<int> AutoCheckHour() const { return autoCheckHour_; }

private:
    std::optional<std::string> ReadShortString(std::string_view name) const;

    SettingsPaths paths_;
    std::string locale_;
    CValueStore user_;
    CValueStore system_;
    std::function<void(int)> applyLanguage_;
    int languageId_ = kEnglishLanguageId;
    bool autoStart_ = false;
    std::optional<int> autoCheckHour_;
};
