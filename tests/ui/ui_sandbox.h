#pragma once

#include <QString>
#include <QTemporaryDir>

#include "ui/main_window.h"

// A private home for one test program: runtime, config, data and documents folders in a
// temporary directory, exported through the environment before Qt starts, so that
// neither the lock, the settings nor the schedule of the machine's user are touched.
class UiSandbox {
public:
    UiSandbox();

    QString Path(const QString& relative = {}) const;
    // A setup for a main window in this sandbox: the repository's layout files, no
    // network, the firmware store and schedule inside the sandbox.
    MainWindowSetup Setup() const;
    // Creates the settings store (the settings page stores nothing without one).
    void CreateSettingsStore() const;

private:
    QTemporaryDir dir_;
};

// Sets the platform and the sandbox's folders before a QApplication is made.
void PrepareUiTestEnvironment(const UiSandbox& sandbox);
