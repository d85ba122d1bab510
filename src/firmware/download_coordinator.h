#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/download_manager.h"
#include "firmware/firmware_catalog.h"
#include "firmware/firmware_view.h"

// One step of a wait for downloads to stop: the GUI runs its event loop for the given
// time (so notifications keep reaching its widgets), the command-line tool just sleeps.
using WaitStep = std::function<void(std::chrono::milliseconds)>;
void SleepStep(std::chrono::milliseconds step);

// What the download page talks to: it turns "download this series" into catalogue
// lookups and queued images, and "cancel" into stop requests and a wait. Owns neither
// the manager nor the catalogue. Called from the user-interface thread (or the tool's
// main thread); OnImageDownloaded comes from download workers.
class CDownloadCoordinator {
public:
    static constexpr std::chrono::milliseconds kWaitStep{500};

    // Registers itself with the manager for the whole of its life.
    CDownloadCoordinator(CDownloadManager& manager, CFirmwareCatalog& catalog);
    ~CDownloadCoordinator();
    CDownloadCoordinator(const CDownloadCoordinator&) = delete;
    CDownloadCoordinator& operator=(const CDownloadCoordinator&) = delete;

    CFirmwareCatalog& Catalog() { return catalog_; }
    CDownloadManager& Manager() { return manager_; }

    // Makes `page` a view of the manager, of the catalogue and of this coordinator, and
    // hands it both through AttachServices.
    void AddPage(CFirmwareView* page);

    // Queues every image of the series that needs downloading (an image found stored
    // and sound is recorded as such instead), sends OnSeriesQueued, starts jobs.
    void DownloadSeries(const std::string& series);
    // Adds a series to the selection that DownloadSelected works on.
    void SelectSeries(const std::string& series);
    // DownloadSeries for every catalogue series in the selection, in catalogue order,
    // starting jobs once at the end.
    void DownloadSelected();

    // Stops the series and waits, in steps of kWaitStep, until no job of it runs.
    void CancelSeries(const std::string& series, const WaitStep& wait = SleepStep);
    // Empties the selection, stops everything and waits until no job runs.
    void CancelAll(const WaitStep& wait = SleepStep);

    // From the manager: an image passed its MD5 check.
    void OnImageDownloaded(const std::string& series, const std::string& model,
                           const std::string& hwVer, const std::string& fwVer,
                           const std::string& localPath);

private:
    void QueueSeries(const std::string& series);

    CDownloadManager& manager_;
    CFirmwareCatalog& catalog_;
    std::mutex mutex_;  // guards the two lists below
    std::vector<CFirmwareView*> pages_;
    std::vector<std::string> selection_;
};
