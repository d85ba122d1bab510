#pragma once

#include <string>

class CDownloadCoordinator;
class CFirmwareCatalog;

// What the firmware store tells the download page (and any other front end, such as the
// command-line tool). Calls arrive on the catalogue's check thread and on download worker
// threads, never with a lock of the store held, so an implementation may call back into
// the catalogue; it must hand anything it shows over to its own thread. A view outlives
// the catalogue, the download manager and the coordinator it is registered with.
//
// Status kinds of OnDownloadStatus (see download_status.h): 0 progress (a = seconds
// left, b = percent), 1 one image stored and verified, 2 series finished, 4 series
// stopped or not fully stored, 8 network error (retrying), 16 not enough free space
// (retrying); a = 0 and b = 100 for all but 0.
class CFirmwareView {
public:
    virtual ~CFirmwareView() = default;

    virtual void OnDownloadStatus(const std::string& series, int kind, int a, int b) = 0;
    // The last running job finished with kind 2.
    virtual void OnAllDownloadsFinished() = 0;
    // A series was read from the local catalogue or named by the server catalogue.
    virtual void OnSeriesAdded(const std::string& series, bool selected) = 0;
    // A download request for a series was worked; `nothingQueued`: every image of it
    // is already stored (or being downloaded by a job that covers it).
    virtual void OnSeriesQueued(const std::string& series, bool nothingQueued) = 0;
    // The server catalogue no longer names the series.
    virtual void OnSeriesRemoved(const std::string& series) = 0;
    // A server check ended (merged, empty or failed fetch); OnCatalogReady follows.
    virtual void OnCatalogChecked() = 0;
    // The catalogue starts loading: the page stays disabled until OnCatalogReady.
    virtual void OnCatalogLoading() = 0;
    virtual void OnCatalogReady() = 0;
    // The storage folder ran out of space for an image (once per shortage; kind-16
    // statuses follow while the download waits for space).
    virtual void OnDiskFull() = 0;
    // An attempt at an image failed: `result` says why (the web client's code, or
    // rc::kChecksumMismatch; DownloadFailureText words it), `attempt` counts the attempts
    // at this image so far; `retrying` when another attempt follows after the pause
    // (an image that failed its checksum is fetched again by the next download).
    virtual void OnDownloadFailed(const std::string& series, const std::string& file, int result,
                                  int attempt, bool retrying) {
        (void)series, (void)file, (void)result, (void)attempt, (void)retrying;
    }
    // Offline, after a stop: every series' status is to be shown again from the store.
    virtual void RefreshSeriesStatuses() = 0;
    // The coordinator registered this view; the pointers stay valid until the owner
    // detaches the view at exit.
    virtual void AttachServices(CDownloadCoordinator* coordinator, CFirmwareCatalog* catalog) = 0;
};
