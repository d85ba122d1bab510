#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "firmware/catalog_xml.h"
#include "firmware/firmware_info.h"
#include "firmware/firmware_match.h"
#include "firmware/firmware_view.h"
#include "firmware/host_probes.h"
#include "web/server_proxy.h"

// The check's result for a server catalogue that is well-formed but lists no firmware
// (an empty list, or some other page that happens to parse): a server that lists
// nothing has not taken every image away; nothing is merged or deleted.
constexpr int kCatalogListsNoFirmware = -21;
// The check's result when another process held the store all along: a merge deletes
// images, so none is made under its downloads; the next check tries again.
constexpr int kStoreBusy = -22;

// What a download of one entry's newest image needs.
struct CFirmwareDownloadParams {
    std::string Model;
    std::string HWVer;
    std::string FWVer;
    std::string URL;        // server base + "/" + file name
    std::string LocalPath;  // storage folder + "/" + file name
    std::string MD5;
    int64_t Size = 0;
};

// The firmware store's catalogue: which images exist per series, product, model and
// hardware version, which of them the storage folder holds, and which are newer on the
// server. It merges the server's "/Firmware_V2.xml" into what the local "firmware.xml"
// remembers, decides what needs downloading, records finished downloads and answers the
// upgrade's question for the newest stored image of a device.
//
// Thread-safe: every operation takes the catalogue's lock, and views are notified in
// registration order after it is released. A stored image is "<storage folder>/<file>",
// a file that starts with the 4-byte size header of the web client's downloads.
class CFirmwareCatalog final : public IFirmwareMatch {
public:
    // `storageFolder` and `serverBase` are resolved by the caller (store_location.h) so
    // tests and the command-line tool can choose their own. `networkConnected` decides
    // whether LoadCatalog asks the server at all.
    CFirmwareCatalog(std::string storageFolder, std::string serverBase,
                     NetworkProbe networkConnected = NetworkConnected);
    // Stops a running server check, then saves firmware.xml when the catalogue was
    // loaded in this run and changed since it was last saved. Views must outlive it.
    ~CFirmwareCatalog() override;
    CFirmwareCatalog(const CFirmwareCatalog&) = delete;
    CFirmwareCatalog& operator=(const CFirmwareCatalog&) = delete;

    const std::string& StorageFolder() const { return storageFolder_; }
    const std::string& ServerBase() const { return serverBase_; }
    std::string CatalogPath() const { return storageFolder_ + "/firmware.xml"; }

    void AddListener(CFirmwareView* view);

    // The proxy for the server checks from now on (none by default: the environment's).
    void SetServerProxy(ServerProxy proxy);
    ServerProxy GetServerProxy() const;

    // ReadLocalCatalog, then, when it succeeded, StartServerCheck.
    void LoadCatalog();

    // Sends OnCatalogLoading, then reads firmware.xml: records whose file is missing are
    // dropped, records already held (same series, product, model and hardware version)
    // are skipped, so a second load adds nothing twice; OnSeriesAdded per record taken.
    // A missing file is an empty catalogue. False, with nothing changed, when the file
    // cannot be read or is not well-formed XML.
    bool ReadLocalCatalog();

    // Asks the server on the catalogue's own thread (or, with no network, merges an
    // empty catalogue there); OnCatalogChecked and OnCatalogReady follow when it ends.
    // While a check runs, a new one is not started: the running one reports.
    void StartServerCheck();
    bool IsCheckRunning() const { return checkRunning_.load(); }
    // Asks a running check to end (within about a second, merging nothing) and returns
    // at once; the program is ending.
    void StopServerCheck();
    // The outcome of the last finished check: 0 merged (or an empty catalogue); the web
    // client's code when the fetch failed; -1 for a text that is not well-formed XML;
    // kCatalogListsNoFirmware; kStoreBusy; -8 when the machine had no network.
    int LastCheckResult() const { return lastCheckResult_.load(); }
    // The fetch's own result in the check now ending, known to views from OnCatalogChecked
    // on (a refusing proxy is told apart from a merge that kept the store as it was).
    int LastFetchResult() const { return lastFetchResult_.load(); }

    // Fetches ServerBase() + "/Firmware_V2.xml" (30 s time-out) on the calling thread and
    // merges it as ParseServerCatalog does; a failed fetch merges an empty text. Leading
    // bytes before the first "<" are dropped. Returns as LastCheckResult.
    int FetchServerCatalog();

    // Merges a server catalogue text. Empty text: nothing changes. A text that names no
    // firmware record with a usable file name is refused like a malformed one (false,
    // nothing changed, nothing sent). Otherwise entries and
    // series the text no longer names are removed (OnSeriesRemoved), a new version is a
    // new entry with nothing stored, and the file of a removed entry is handed to
    // entries naming the same file and MD5 or deleted when no entry stores it any more.
    // Sends OnSeriesAdded per record, then OnCatalogChecked and OnCatalogReady. False,
    // with nothing changed and nothing sent, for a text that is not well-formed XML.
    bool ParseServerCatalog(std::string_view text);

    // Writes firmware.xml atomically. Does nothing (false) while the catalogue has not
    // been loaded in this run, so a run that never read the file cannot replace it.
    // False with errno telling why when it cannot be written.
    bool SaveCatalog();

    // Number of entries of the series; 0 for an unknown series.
    int CountImages(const std::string& series) const;

    // Whether entry `index` must be (re)downloaded: its stored image is not the newest,
    // is missing, is shorter than its size (it will be resumed) or fails its MD5 check
    // (it is deleted). Repairs the entry's stored fields on the way. False for an
    // unknown series or index. The MD5 is computed without holding the lock.
    bool NeedsDownload(const std::string& series, int index);
    // NeedsDownload over every entry (all evaluated), or-ed.
    bool AnyNeedsDownload(const std::string& series);
    // Every entry holds a stored file that exists; true for a series without entries,
    // false for an unknown series.
    bool AllImagesStored(const std::string& series) const;

    bool GetDownloadParams(const std::string& series, int index,
                           CFirmwareDownloadParams& params) const;
    // The stored image of an entry; false for an unknown entry or one holding no image.
    bool GetStoredPath(const std::string& series, int index, std::string& path) const;

    // Records a download that passed its MD5 check: every entry naming the same newest
    // file now stores it; firmware.xml is saved; images those entries held before are
    // deleted once no entry stores them.
    void MarkDownloaded(const std::string& series, const std::string& model,
                        const std::string& hwVer, const std::string& fwVer);

    void SetChecked(const std::string& series, bool checked);

    // How the store stands towards an image an import offers (the record of a carried
    // catalogue): it holds that very image already, a newer version for that device
    // (`held` names it), another image under the record's file name, or none of these.
    enum class Holding { Nothing, Same, Newer, NameTaken };
    Holding HoldingFor(const CatalogRecord& record, std::string& held) const;
    // Records an image an import has placed in the storage folder under the record's
    // file name, verified: the device's entry (made when missing, in a series made when
    // missing) stores it as its newest; firmware.xml is saved; the image the entry held
    // before is deleted once no entry stores it. OnSeriesAdded follows. False, with
    // errno telling why, when firmware.xml could not be written.
    bool RecordImported(const CatalogRecord& record);

    // Sum of the newest images' sizes, each distinct file counted once.
    int64_t SeriesTotalSize(const std::string& series) const;

    // The stored images that fit a device, from the first series that holds any: the
    // versions in ascending byte order (so "1.10" comes before "1.9") and their paths in
    // the same order; the caller takes the last as the newest. Model "Kelvaron-71xR" and
    // "Kelvaron-35xV" with the product name equal to the model look for the products
    // "KT-710Rq" and "KT-350Vq". False, both lists empty, when nothing fits.
    bool FindLatestFirmware(const std::string& model, const std::string& hwVer,
                            const std::string& productName, std::vector<std::string>& versions,
                            std::vector<std::string>& paths) const override;

    // Copies of the series, in catalogue order.
    std::vector<CFirmwareSeries> Series() const;
    std::vector<std::string> SeriesNames() const;

private:
    struct Event;

    CFirmwareSeries* FindSeries(const std::string& name);
    const CFirmwareSeries* FindSeries(const std::string& name) const;
    CFirmwareInfo* FindEntry(const std::string& series, int index);
    const CFirmwareInfo* FindEntry(const std::string& series, int index) const;
    std::string PathOf(const std::string& filename) const;
    int CountStoredUses(const std::string& filename) const;
    void AdoptStoredFile(const std::string& filename, const std::string& md5);
    void DeleteIfUnused(const std::string& filename) const;
    void Notify(const std::vector<Event>& events) const;
    int RunServerCheck(std::stop_token stop, bool fetch);
    // ParseServerCatalog with its reason: 0, rc::kFailed or kCatalogListsNoFirmware.
    int MergeServerCatalog(std::string_view text);

    const std::string storageFolder_;
    const std::string serverBase_;
    const NetworkProbe networkConnected_;

    mutable std::mutex mutex_;  // guards everything below up to the save lock
    std::vector<CFirmwareSeries> series_;
    std::vector<CFirmwareView*> listeners_;
    ServerProxy proxy_;
    bool loaded_ = false;
    uint64_t changes_ = 0;       // bumped by every change worth saving
    uint64_t savedChanges_ = 0;  // changes_ when firmware.xml was last written

    std::mutex saveMutex_;  // keeps saves in order: a later state is never overwritten
    std::mutex checkMutex_;
    std::atomic<bool> checkRunning_{false};
    std::atomic<int> lastCheckResult_{0};
    std::atomic<int> lastFetchResult_{0};
    std::jthread check_;
};
