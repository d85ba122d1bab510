#pragma once

#include <QFrame>
#include <QLabel>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "base/file_lock.h"
#include "firmware/firmware_view.h"
#include "firmware/host_probes.h"
#include "ui/firmware_list_ctrl.h"
#include "ui/page.h"
#include "ui/skin_button.h"

// The Firmware page: the firmware store's series and their downloads. It is a view of
// the catalogue, the download manager and the coordinator; their notifications arrive
// on the catalogue's check thread and on download workers and are handed to the
// user-interface thread as queued calls carrying copies. What it asks of the store
// (queueing, which may hash whole images, and cancelling, which waits for the workers)
// runs on a worker of its own, one request after the other, so the window keeps drawing.
class CDownloadPage final : public CPage, public CFirmwareView {
    Q_OBJECT
public:
    CDownloadPage(IMainFrame& frame, QWidget* parent);
    ~CDownloadPage() override;

    void ReloadTexts() override;

    // Whether the machine has a network connection (offline rows of missing images say so).
    void SetNetworkProbe(NetworkProbe network) { network_ = std::move(network); }

    // Select All: ticks every row and downloads every series. Cancel All: stops every
    // download, waits until none runs, then clears every tick. Both keep the page and
    // the tabs disabled until they have ended.
    void SelectAll();
    void CancelAll();
    // Import: adds the verified images of a chosen folder (a USB stick) to the store.
    // Export: writes the store's images to a chosen folder. Both run on the page's
    // worker with the time left in the description, and end with a message of what was
    // taken, skipped and refused. Not while downloads run.
    void Import();
    void Export();
    void SetFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    // While the catalogue is read and the server asked, the page says so and takes no
    // command.
    void ShowChecking(bool checking);
    bool IsChecking() const { return checking_; }
    // A request of the page is being worked (the page is disabled meanwhile).
    bool IsWorking() const { return pending_ > 0; }
    // The store lock is held for downloads of this page.
    bool HoldsStoreLock() const;

    // The main window's shut-down, once no download runs: the ticks go into the
    // catalogue, then the page forgets the services before they go.
    void PersistSelections();
    void Detach();
    bool HasServices() const;

    CFirmwareListCtrl& List() { return list_; }

    // CFirmwareView, on any thread.
    void OnDownloadStatus(const std::string& series, int kind, int a, int b) override;
    void OnAllDownloadsFinished() override;
    void OnSeriesAdded(const std::string& series, bool selected) override;
    void OnSeriesQueued(const std::string& series, bool nothingQueued) override;
    void OnSeriesRemoved(const std::string& series) override;
    void OnCatalogChecked() override;
    void OnCatalogLoading() override;
    void OnCatalogReady() override;
    void OnDiskFull() override;
    void OnDownloadFailed(const std::string& series, const std::string& file, int result,
                          int attempt, bool retrying) override;
    void RefreshSeriesStatuses() override;
    void AttachServices(CDownloadCoordinator* coordinator, CFirmwareCatalog* catalog) override;

private:
    // Runs `work` on the page's worker, then `then` on this thread. The page stays
    // disabled and the main window busy until `then` has run. `work` returns false when
    // the store lock could not be had: the user is told so.
    void RunRequest(std::function<bool()> work, std::function<void()> then);
    void SetControlsEnabled(bool enabled);
    void PlaceDescription();
    void ShowStatus(const QString& series, int kind, int a, int b);
    // Why a series' last attempt failed: while retrying, or as it ended.
    struct Failure {
        int Result = 0;
        bool Retrying = false;
    };
    void ShowFailure(int row, const QString& series, Failure failure);
    // Writes a status cell whose words come from the language, and keeps how to word it,
    // so that a language switch words it anew.
    void ShowWorded(int row, const QString& series, std::function<QString()> word);
    struct Worded {
        std::function<QString()> Word;
        QString Shown;  // the cell's text, as last written
    };
    // On the page's worker: takes the store lock unless held; false when another
    // process keeps the store busy.
    bool TakeStoreLock();
    void ReleaseStoreLockWhenIdle();
    void SayStoreBusy();
    bool Connected() const { return !network_ || network_(); }
    void Transfer(bool import);
    void ShowTransferProgress(const QString& text);

    QLabel description_;
    QFrame listArea_;
    CFirmwareListCtrl list_;
    CSkinButton selectAll_;
    CSkinButton cancelAll_;
    CSkinButton import_;
    CSkinButton export_;
    FolderChooser folderChooser_;
    QString transferProgress_;  // shown in the description while a transfer runs
    QString noSpaceText_;
    std::map<QString, Failure> failures_;  // by series, until it is queued again or done
    std::map<QString, Worded> worded_;     // by series
    // Set by AttachServices and Detach; read on notifying threads.
    std::atomic<CDownloadCoordinator*> coordinator_{nullptr};
    std::atomic<CFirmwareCatalog*> catalog_{nullptr};
    NetworkProbe network_ = NetworkConnected;
    bool firstCheck_ = true;
    bool checking_ = false;
    bool proxyRefused_ = false;  // the last server check was refused by the proxy
    int pending_ = 0;            // requests given to the worker and not yet ended

    mutable std::mutex storeLockMutex_;  // guards storeLock_
    std::shared_ptr<const CFileLock> storeLock_;
    QTimer storeIdleWatch_;  // lets the store lock go once downloads have ended

    // Last, so it is the first to go: its worker may still post to the page.
    QThreadPool worker_;
};
