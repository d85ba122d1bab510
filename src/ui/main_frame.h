#pragma once

#include <string>

class CLayoutTexts;

// What the main window offers its pages. Called on the user-interface thread only.
class IMainFrame {
public:
    virtual ~IMainFrame() = default;

    virtual CLayoutTexts& Texts() = 0;

    // A long operation of a page begins: the other tabs are disabled and Exit waits.
    virtual void BeginBusy() = 0;
    // ... and has ended: the busy state is cleared 100 ms from now.
    virtual void EndBusySoon() = 0;
    virtual bool IsBusy() const = 0;
    // Exit was accepted: nothing new is to be started. A frame that never shuts down
    // (a bench, a test) need not say.
    virtual bool IsShuttingDown() const { return false; }

    // An upgrade run holds the program on the upgrade page.
    virtual void LockTabs() = 0;
    virtual void UnlockTabs() = 0;

    virtual void SetWaitCursor(bool wait) = 0;

    // Download notices, each shown as a tray balloon where the desktop has a tray.
    virtual void SetDownloadedName(const std::string& name) = 0;
    virtual void NotifyAllDownloadsFinished() = 0;
    virtual void NotifyNewFirmware() = 0;
    virtual void NotifyDiskFull() = 0;

    // The firmware catalogue has loaded and been checked (the downloads of the ticked
    // series are queued).
    virtual void CatalogReady() = 0;

    virtual void ShowPage(int page) = 0;
};
