#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/catalog_xml.h"
#include "firmware/firmware_view.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

// Shared by the firmware store's tests.

// MD5 text of `bytes`, as the server catalogue writes it.
std::string Md5Of(const std::string& bytes);

// A stored image file: the 4-byte size header, then the bytes.
std::string StoredImage(const std::string& bytes);

// A server catalogue naming `records` (Checked is not written).
std::string ServerCatalogText(const std::vector<CatalogRecord>& records);

// A record for an image of `bytes` named `file`.
CatalogRecord Record(const std::string& series, const std::string& model, const std::string& fwVer,
                     const std::string& file, const std::string& bytes,
                     const std::string& product = "");

// A view that writes every notification down as one line of text, e.g.
// "status S1 2 0 100", "added S1 1", "removed S1", "queued S1 0", "loading", "checked",
// "ready", "all-finished", "disk-full", "refresh". With a catalogue it also asks it
// AllImagesStored on each OnSeriesAdded, as the page does: a lock held while
// notifying would hang it.
class RecordingView : public CFirmwareView {
public:
    void OnDownloadStatus(const std::string& series, int kind, int a, int b) override;
    void OnAllDownloadsFinished() override { Add("all-finished"); }
    void OnSeriesAdded(const std::string& series, bool selected) override;
    void OnSeriesQueued(const std::string& series, bool nothingQueued) override;
    void OnSeriesRemoved(const std::string& series) override { Add("removed " + series); }
    void OnCatalogChecked() override { Add("checked"); }
    void OnCatalogLoading() override { Add("loading"); }
    void OnCatalogReady() override { Add("ready"); }
    void OnDiskFull() override { Add("disk-full"); }
    void RefreshSeriesStatuses() override { Add("refresh"); }
    void AttachServices(CDownloadCoordinator* coordinator, CFirmwareCatalog* catalog) override;

    void CallBackInto(CFirmwareCatalog* catalog) { callBack_ = catalog; }
    std::vector<std::string> Events() const;
    // The events that start with `prefix`.
    std::vector<std::string> EventsStartingWith(const std::string& prefix) const;
    int Count(const std::string& event) const;
    // Index of the first event equal to `event`, or -1.
    int IndexOf(const std::string& event) const;
    bool WaitFor(const std::string& event,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    void Clear();

private:
    void Add(const std::string& event);

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    CFirmwareCatalog* callBack_ = nullptr;
};

// devsim's firmware server over a folder, with request lines on (log=1); `extra` adds
// settings such as faults.
class FirmwareServerFixture {
public:
    explicit FirmwareServerFixture(const TempDir& folder, const std::string& extra = "");
    std::string Base() const;
    // The Range of every request for `path` seen so far ("-" for none).
    std::vector<std::string> RangesAskedFor(const std::string& path);

private:
    std::unique_ptr<DevsimProcess> sim_;
    std::vector<std::string> lines_;
};
