#pragma once

#include <QLabel>
#include <atomic>

#include "firmware/firmware_view.h"
#include "ui/page.h"

// The Firmware page: the firmware store's series and their downloads. It is a view of
// the catalogue, the download manager and the coordinator; their notifications arrive
// on the catalogue's check thread and on download workers and are handed to the
// user-interface thread as queued calls carrying copies.
class CDownloadPage final : public CPage, public CFirmwareView {
    Q_OBJECT
public:
    CDownloadPage(IMainFrame& frame, QWidget* parent);

    void ReloadTexts() override;

    // The main window's shut-down: the page forgets the services before they go.
    void Detach();
    bool HasServices() const;

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
    void RefreshSeriesStatuses() override;
    void AttachServices(CDownloadCoordinator* coordinator, CFirmwareCatalog* catalog) override;

private:
    template <typename F>
    void OnGuiThread(F&& call);

    QLabel title_;
    // Set by AttachServices and Detach; read on notifying threads.
    std::atomic<CDownloadCoordinator*> coordinator_{nullptr};
    std::atomic<CFirmwareCatalog*> catalog_{nullptr};
    bool firstCheck_ = true;
    std::atomic<bool> detached_{false};
};
