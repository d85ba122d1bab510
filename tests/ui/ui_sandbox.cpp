#include "ui_sandbox.h"

#include <QDir>
#include <QFile>

#include "ui/qt_text.h"

UiSandbox::UiSandbox() { dir_.setAutoRemove(true); }

QString UiSandbox::Path(const QString& relative) const {
    return relative.isEmpty() ? dir_.path() : QDir(dir_.path()).filePath(relative);
}

MainWindowSetup UiSandbox::Setup() const {
    MainWindowSetup setup;
    setup.DataFolder = STRELVANE_DATA_DIR;
    setup.Settings = DefaultSettingsPaths();
    setup.SchedulePath = ToStd(Path("Documents/Strelvane/fw_config.xml"));
    setup.StorageFolder = ToStd(Path("store"));
    QDir().mkpath(Path("store"));
    setup.Network = [] { return false; };
    // Outside a lab a search would multicast on the machine's own network.
    setup.SearchAtStart = false;
    return setup;
}

void UiSandbox::CreateSettingsStore() const {
    QDir().mkpath(Path("config/strelvane"));
    QFile file(Path("config/strelvane/settings.conf"));
    file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void PrepareUiTestEnvironment(const UiSandbox& sandbox) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* folder : {"runtime", "config", "data", "state", "home"}) {
        QDir().mkpath(sandbox.Path(folder));
    }
    QFile::setPermissions(sandbox.Path("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", sandbox.Path("runtime").toUtf8());
    qputenv("XDG_CONFIG_HOME", sandbox.Path("config").toUtf8());
    qputenv("XDG_DATA_HOME", sandbox.Path("data").toUtf8());
    qputenv("XDG_STATE_HOME", sandbox.Path("state").toUtf8());
    qputenv("HOME", sandbox.Path("home").toUtf8());
    qputenv("LANG", "C.UTF-8");
}
