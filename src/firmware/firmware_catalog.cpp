#include "firmware/firmware_catalog.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>

#include "base/atomic_file.h"
#include "base/result_codes.h"
#include "base/saturating.h"
#include "base/trace.h"
#include "device/firmware_version.h"
#include "firmware/catalog_xml.h"
#include "firmware/file_md5.h"
#include "firmware/store_location.h"
#include "settings/xdg_folders.h"
#include "web/curl_easy.h"
#include "web/http_base.h"
#include "web/web_client.h"

namespace {

constexpr int kCatalogTimeoutMs = 30000;

// A text sink that gives up when the catalogue is being destroyed.
// The firmware server, unlike a device, is reached through the proxy.
class StoppableTextSink : public CHTTPBase {
public:
    StoppableTextSink(std::stop_token stop, ServerProxy proxy)
        : stop_(std::move(stop)), proxy_(std::move(proxy)) {}
    bool IsCancelled() override { return stop_.stop_requested(); }
    bool UseSystemProxy() override { return true; }
    const ServerProxy* Proxy() override { return &proxy_; }

private:
    std::stop_token stop_;
    ServerProxy proxy_;
};

bool SameDevice(const CFirmwareInfo& e, const std::string& product, const std::string& model,
                const std::string& hwVer) {
    return e.ProductName == product && e.Model == model && e.HWVer == hwVer;
}

void StoreLatest(CFirmwareInfo& e) {
    e.StoredFWVer = e.LatestFWVer;
    e.StoredMD5 = e.LatestMD5;
    e.StoredFilename = e.LatestFilename;
}

int64_t FileLength(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}

}  // namespace

struct CFirmwareCatalog::Event {
    enum Kind { Loading, Added, Removed, Checked, Ready };
    Kind What;
    std::string Series;
    bool Selected = false;
};

CFirmwareCatalog::CFirmwareCatalog(std::string storageFolder, std::string serverBase,
                                   NetworkProbe networkConnected)
    : storageFolder_(std::move(storageFolder)),
      serverBase_(std::move(serverBase)),
      networkConnected_(std::move(networkConnected)) {}

CFirmwareCatalog::~CFirmwareCatalog() {
    {
        std::lock_guard lock(checkMutex_);
        if (check_.joinable()) {
            check_.request_stop();
            check_.join();
        }
    }
    bool changed;
    {
        std::lock_guard lock(mutex_);
        changed = changes_ != savedChanges_;
    }
    if (changed) SaveCatalog();
}

void CFirmwareCatalog::SetServerProxy(ServerProxy proxy) {
    std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}

ServerProxy CFirmwareCatalog::GetServerProxy() const {
    std::lock_guard lock(mutex_);
    return proxy_;
}

void CFirmwareCatalog::AddListener(CFirmwareView* view) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(view);
}

void CFirmwareCatalog::Notify(const std::vector<Event>& events) const {
    std::vector<CFirmwareView*> views;
    {
        std::lock_guard lock(mutex_);
        views = listeners_;
    }
    for (const Event& event : events) {
        for (CFirmwareView* view : views) {
            switch (event.What) {
                case Event::Loading:
                    view->OnCatalogLoading();
                    break;
                case Event::Added:
                    view->OnSeriesAdded(event.Series, event.Selected);
                    break;
                case Event::Removed:
                    view->OnSeriesRemoved(event.Series);
                    break;
                case Event::Checked:
                    view->OnCatalogChecked();
                    break;
                case Event::Ready:
                    view->OnCatalogReady();
                    break;
            }
        }
    }
}

std::string CFirmwareCatalog::PathOf(const std::string& filename) const {
    return storageFolder_ + "/" + filename;
}

CFirmwareSeries* CFirmwareCatalog::FindSeries(const std::string& name) {
    for (CFirmwareSeries& s : series_) {
        if (s.Name == name) return &s;
    }
    return nullptr;
}

const CFirmwareSeries* CFirmwareCatalog::FindSeries(const std::string& name) const {
    return const_cast<CFirmwareCatalog*>(this)->FindSeries(name);
}

CFirmwareInfo* CFirmwareCatalog::FindEntry(const std::string& series, int index) {
    CFirmwareSeries* s = FindSeries(series);
    if (!s || index < 0 || static_cast<size_t>(index) >= s->Entries.size()) return nullptr;
    return &s->Entries[static_cast<size_t>(index)];
}

const CFirmwareInfo* CFirmwareCatalog::FindEntry(const std::string& series, int index) const {
    return const_cast<CFirmwareCatalog*>(this)->FindEntry(series, index);
}

void CFirmwareCatalog::LoadCatalog() {
    if (ReadLocalCatalog()) StartServerCheck();
}

bool CFirmwareCatalog::ReadLocalCatalog() {
    Notify({{Event::Loading, {}, false}});
    const std::string path = CatalogPath();
    RemoveStaleTemporaries(path);
    std::vector<CatalogRecord> records;
    if (PathExists(path)) {
        std::string text;
        if (!ReadWholeFile(path, text) || !ReadCatalogRecords(text, records)) {
            Trace("FWStrelvane - Cannot read %s.\n", path.c_str());
            return false;
        }
    }
    std::vector<Event> events;
    {
        std::lock_guard lock(mutex_);
        for (const CatalogRecord& r : records) {
            // An empty name is the storage folder itself, so never-downloaded entries stay.
            if (!IsPlainFileName(r.Filename) || !PathExists(PathOf(r.Filename))) {
                ++changes_;
                continue;
            }
            const std::string& product = r.ProductName.empty() ? r.Model : r.ProductName;
            CFirmwareSeries* s = FindSeries(r.Series);
            if (!s) s = &series_.emplace_back(CFirmwareSeries{r.Series, {}, r.Checked, false});
            bool held = false;
            for (const CFirmwareInfo& e : s->Entries)
                held = held || SameDevice(e, product, r.Model, r.HWVer);
            if (held) continue;
            s->Entries.push_back(CFirmwareInfo{product, r.Model, r.HWVer, r.FWVer, r.MD5,
                                               r.Filename, r.FWVer, r.MD5, r.Filename, r.Size,
                                               false});
            events.push_back({Event::Added, r.Series, r.Checked});
        }
        loaded_ = true;
    }
    Notify(events);
    return true;
}

void CFirmwareCatalog::StartServerCheck() {
    std::lock_guard lock(checkMutex_);
    if (checkRunning_.load()) return;
    if (check_.joinable()) check_.join();
    const bool fetch = networkConnected_();
    checkRunning_ = true;
    check_ = std::jthread([this, fetch](std::stop_token stop) {
        lastCheckResult_ = RunServerCheck(stop, fetch);
        checkRunning_ = false;
    });
}

void CFirmwareCatalog::StopServerCheck() {
    std::lock_guard lock(checkMutex_);
    check_.request_stop();
}

int CFirmwareCatalog::FetchServerCatalog() {
    const int result = RunServerCheck({}, true);
    lastCheckResult_ = result;
    return result;
}

int CFirmwareCatalog::RunServerCheck(std::stop_token stop, bool fetch) {
    std::string text;
    int result = rc::kCannotConnect;
    if (fetch) {
        StoppableTextSink sink(stop, GetServerProxy());
        result = FetchText(sink, "", "", serverBase_ + "/Firmware_V2.xml", kCatalogTimeoutMs, text);
        if (result != rc::kOk) text.clear();
    }
    lastFetchResult_ = result;
    // A destroyed catalogue merges nothing and tells nobody.
    if (stop.stop_requested()) return rc::kCancelled;
    // A byte-order mark or other bytes before the document.
    if (const size_t open = text.find('<'); open != std::string::npos) text.erase(0, open);
    std::shared_ptr<const CFileLock> storeLock;
    if (!text.empty()) {
        storeLock = LockStore(storageFolder_);
        if (!storeLock) {
            Trace(
                "FWStrelvane - The firmware store is busy; the server catalogue is not merged.\n");
            MergeServerCatalog("");  // reported like a failed fetch: the store is shown as it is
            return kStoreBusy;
        }
    }
    if (const int merged = MergeServerCatalog(text); merged != rc::kOk) return merged;
    return result;
}

bool CFirmwareCatalog::ParseServerCatalog(std::string_view text) {
    return MergeServerCatalog(text) == rc::kOk;
}

int CFirmwareCatalog::MergeServerCatalog(std::string_view text) {
    std::vector<Event> events;
    if (!text.empty()) {
        std::vector<CatalogRecord> records;
        if (!ReadCatalogRecords(text, records)) return rc::kFailed;
        if (std::none_of(records.begin(), records.end(), [](const CatalogRecord& r) {
                return !r.Filename.empty() && IsPlainFileName(r.Filename);
            })) {
            Trace("FWStrelvane - The server catalogue lists no firmware; the store is kept.\n");
            return kCatalogListsNoFirmware;
        }
        std::lock_guard lock(mutex_);
        // Only this catalogue decides what stays: what an earlier check named but this
        // one does not is removed now.
        for (CFirmwareSeries& s : series_) {
            s.Listed = false;
            for (CFirmwareInfo& e : s.Entries) e.InServerCatalog = false;
        }
        for (const CatalogRecord& r : records) {
            if (!IsPlainFileName(r.Filename)) {
                Trace("FWStrelvane - Ignore firmware file name %s.\n", r.Filename.c_str());
                continue;
            }
            const std::string& product = r.ProductName.empty() ? r.Model : r.ProductName;
            CFirmwareSeries* s = FindSeries(r.Series);
            if (!s) s = &series_.emplace_back(CFirmwareSeries{r.Series, {}, false, false});
            bool matched = false;
            for (CFirmwareInfo& e : s->Entries) {
                if (SameDevice(e, product, r.Model, r.HWVer) && e.LatestFWVer == r.FWVer) {
                    e.LatestMD5 = r.MD5;
                    e.LatestFilename = r.Filename;
                    e.Size = r.Size;
                    e.InServerCatalog = true;
                    matched = true;
                }
            }
            if (!matched) {
                s->Entries.push_back(CFirmwareInfo{product,
                                                   r.Model,
                                                   r.HWVer,
                                                   {},
                                                   {},
                                                   {},
                                                   r.FWVer,
                                                   r.MD5,
                                                   r.Filename,
                                                   r.Size,
                                                   true});
            }
            s->Listed = true;
            events.push_back({Event::Added, s->Name, s->Checked});
        }

        std::vector<std::pair<std::string, std::string>> dropped;  // file name, MD5
        for (CFirmwareSeries& s : series_) {
            std::erase_if(s.Entries, [&](const CFirmwareInfo& e) {
                if (!e.InServerCatalog) dropped.emplace_back(e.LatestFilename, e.LatestMD5);
                return !e.InServerCatalog;
            });
        }
        std::erase_if(series_, [&](const CFirmwareSeries& s) {
            if (!s.Listed) events.push_back({Event::Removed, s.Name, false});
            return !s.Listed;
        });
        for (const auto& [filename, md5] : dropped) {
            AdoptStoredFile(filename, md5);
            DeleteIfUnused(filename);
        }
        ++changes_;
    }
    events.push_back({Event::Checked, {}, false});
    events.push_back({Event::Ready, {}, false});
    Notify(events);
    return rc::kOk;
}

void CFirmwareCatalog::AdoptStoredFile(const std::string& filename, const std::string& md5) {
    if (filename.empty() || !PathExists(PathOf(filename))) return;
    for (CFirmwareSeries& s : series_) {
        for (CFirmwareInfo& e : s.Entries) {
            if (e.LatestFilename == filename && e.LatestMD5 == md5 && e.StoredFilename.empty()) {
                StoreLatest(e);
            }
        }
    }
}

int CFirmwareCatalog::CountStoredUses(const std::string& filename) const {
    int uses = 0;
    for (const CFirmwareSeries& s : series_) {
        for (const CFirmwareInfo& e : s.Entries) uses += e.StoredFilename == filename ? 1 : 0;
    }
    return uses;
}

void CFirmwareCatalog::DeleteIfUnused(const std::string& filename) const {
    // unlink, not a general remove: an empty name is the storage folder itself.
    if (filename.empty() || CountStoredUses(filename) > 0) return;
    if (::unlink(PathOf(filename).c_str()) == 0) {
        Trace("FWStrelvane - Delete firmware %s.\n", filename.c_str());
    }
}

bool CFirmwareCatalog::SaveCatalog() {
    std::lock_guard order(saveMutex_);
    std::string text;
    uint64_t changes;
    {
        std::lock_guard lock(mutex_);
        if (!loaded_) return false;
        text = FirmwareXmlText(series_);
        changes = changes_;
    }
    if (!WriteFileAtomically(CatalogPath(), text)) {
        const int error = errno;  // the caller may tell the user why
        Trace("FWStrelvane - Cannot write %s.\n", CatalogPath().c_str());
        errno = error;
        return false;
    }
    std::lock_guard lock(mutex_);
    savedChanges_ = changes;
    return true;
}

int CFirmwareCatalog::CountImages(const std::string& series) const {
    std::lock_guard lock(mutex_);
    const CFirmwareSeries* s = FindSeries(series);
    return s ? static_cast<int>(s->Entries.size()) : 0;
}

bool CFirmwareCatalog::NeedsDownload(const std::string& series, int index) {
    std::string filename;
    std::string expected;
    {
        std::lock_guard lock(mutex_);
        CFirmwareInfo* e = FindEntry(series, index);
        if (!e) return false;
        if (e->StoredFWVer != e->LatestFWVer || e->StoredFilename != e->LatestFilename) return true;
        if (e->StoredFilename.empty()) {
            e->StoredMD5.clear();
            return true;
        }
        const int64_t length = FileLength(PathOf(e->StoredFilename));
        if (length < 0) {
            e->StoredMD5.clear();
            e->StoredFilename.clear();
            ++changes_;
            return true;
        }
        // The body, without its size header, is short: resume rather than verify.
        if (length - 4 < e->Size) return true;
        filename = e->StoredFilename;
        expected = e->StoredMD5;
    }
    std::string md5;
    ComputeFileMD5(PathOf(filename), md5);
    std::lock_guard lock(mutex_);
    CFirmwareInfo* e = FindEntry(series, index);
    // Changed while the lock was free: a download is recording it; ask again later.
    if (!e || e->StoredFilename != filename || e->StoredMD5 != expected) return true;
    if (!md5.empty() && md5 == expected) return false;
    Trace("FWStrelvane - Firmware %s fails its MD5 check.\n", filename.c_str());
    ::unlink(PathOf(filename).c_str());
    e->StoredMD5.clear();
    e->StoredFilename.clear();
    ++changes_;
    return true;
}

bool CFirmwareCatalog::AnyNeedsDownload(const std::string& series) {
    bool any = false;
    const int count = CountImages(series);
    for (int k = 0; k < count; ++k) any = NeedsDownload(series, k) || any;
    return any;
}

bool CFirmwareCatalog::AllImagesStored(const std::string& series) const {
    std::lock_guard lock(mutex_);
    const CFirmwareSeries* s = FindSeries(series);
    if (!s) return false;
    for (const CFirmwareInfo& e : s->Entries) {
        if (e.StoredFilename.empty() || !PathExists(PathOf(e.StoredFilename))) return false;
    }
    return true;
}

bool CFirmwareCatalog::GetDownloadParams(const std::string& series, int index,
                                         CFirmwareDownloadParams& params) const {
    std::lock_guard lock(mutex_);
    const CFirmwareInfo* e = FindEntry(series, index);
    if (!e || e->LatestFilename.empty()) return false;
    params = {e->Model,
              e->HWVer,
              e->LatestFWVer,
              serverBase_ + "/" + PercentEncode(e->LatestFilename),
              PathOf(e->LatestFilename),
              e->LatestMD5,
              e->Size};
    return true;
}

bool CFirmwareCatalog::GetStoredPath(const std::string& series, int index,
                                     std::string& path) const {
    std::lock_guard lock(mutex_);
    const CFirmwareInfo* e = FindEntry(series, index);
    if (!e || e->StoredFilename.empty()) return false;
    path = PathOf(e->StoredFilename);
    return true;
}

void CFirmwareCatalog::MarkDownloaded(const std::string& series, const std::string& model,
                                      const std::string& hwVer, const std::string& fwVer) {
    std::vector<std::string> replaced;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        CFirmwareSeries* s = FindSeries(series);
        if (!s) return;
        std::string file;
        bool found = false;
        for (const CFirmwareInfo& e : s->Entries) {
            if (!found && e.Model == model && e.HWVer == hwVer && e.LatestFWVer == fwVer) {
                file = e.LatestFilename;
                found = true;
            }
        }
        if (!found) return;
        for (CFirmwareSeries& other : series_) {
            for (CFirmwareInfo& e : other.Entries) {
                if (e.LatestFilename != file) continue;
                if (!e.StoredFilename.empty() && e.StoredFilename != file) {
                    replaced.push_back(e.StoredFilename);
                }
                changed = changed || e.StoredFWVer != e.LatestFWVer || e.StoredMD5 != e.LatestMD5 ||
                          e.StoredFilename != e.LatestFilename;
                StoreLatest(e);
            }
        }
        if (changed) ++changes_;
    }
    if (changed) SaveCatalog();
    std::lock_guard lock(mutex_);
    // Another entry may still store an image this one gave up.
    for (const std::string& old : replaced) DeleteIfUnused(old);
}

void CFirmwareCatalog::SetChecked(const std::string& series, bool checked) {
    std::lock_guard lock(mutex_);
    CFirmwareSeries* s = FindSeries(series);
    if (!s || s->Checked == checked) return;
    s->Checked = checked;
    ++changes_;
}

CFirmwareCatalog::Holding CFirmwareCatalog::HoldingFor(const CatalogRecord& record,
                                                       std::string& held) const {
    const std::string& product = record.ProductName.empty() ? record.Model : record.ProductName;
    std::lock_guard lock(mutex_);
    Holding holding = Holding::Nothing;
    for (const CFirmwareSeries& s : series_) {
        for (const CFirmwareInfo& e : s.Entries) {
            if (e.StoredFilename.empty()) continue;
            const bool mine =
                s.Name == record.Series && SameDevice(e, product, record.Model, record.HWVer);
            if (mine && e.StoredFWVer == record.FWVer && e.StoredMD5 == record.MD5 &&
                FileLength(PathOf(e.StoredFilename)) == record.Size + 4) {
                return Holding::Same;
            }
            if (mine && IsNewerFirmware(record.FWVer, e.StoredFWVer)) {
                held = e.StoredFWVer;
                holding = Holding::Newer;
            }
            // The entry being replaced may give its file up; any other keeps it.
            if (!mine && e.StoredFilename == record.Filename && e.StoredMD5 != record.MD5 &&
                holding == Holding::Nothing) {
                holding = Holding::NameTaken;
            }
        }
    }
    return holding;
}

bool CFirmwareCatalog::RecordImported(const CatalogRecord& record) {
    const std::string& product = record.ProductName.empty() ? record.Model : record.ProductName;
    std::string replaced;
    bool checked = false;
    {
        std::lock_guard lock(mutex_);
        // A catalogue never read in this run would be replaced by this one entry.
        if (!loaded_) {
            errno = EINVAL;
            return false;
        }
        CFirmwareSeries* s = FindSeries(record.Series);
        if (!s) s = &series_.emplace_back(CFirmwareSeries{record.Series, {}, false, false});
        checked = s->Checked;
        CFirmwareInfo* entry = nullptr;
        for (CFirmwareInfo& e : s->Entries) {
            if (!entry && SameDevice(e, product, record.Model, record.HWVer)) entry = &e;
        }
        if (!entry) {
            entry = &s->Entries.emplace_back();
            entry->ProductName = product;
            entry->Model = record.Model;
            entry->HWVer = record.HWVer;
        }
        if (entry->StoredFilename != record.Filename) replaced = entry->StoredFilename;
        entry->LatestFWVer = record.FWVer;
        entry->LatestMD5 = record.MD5;
        entry->LatestFilename = record.Filename;
        entry->Size = record.Size;
        StoreLatest(*entry);
        ++changes_;
    }
    const bool saved = SaveCatalog();
    const int error = errno;
    {
        std::lock_guard lock(mutex_);
        DeleteIfUnused(replaced);
    }
    Notify({{Event::Added, record.Series, checked}});
    errno = error;
    return saved;
}

int64_t CFirmwareCatalog::SeriesTotalSize(const std::string& series) const {
    std::lock_guard lock(mutex_);
    const CFirmwareSeries* s = FindSeries(series);
    if (!s) return 0;
    int64_t total = 0;
    std::vector<const std::string*> counted;
    for (const CFirmwareInfo& e : s->Entries) {
        bool seen = false;
        for (const std::string* name : counted) seen = seen || *name == e.LatestFilename;
        if (seen) continue;
        counted.push_back(&e.LatestFilename);
        total = SaturatingAdd(total, e.Size);
    }
    return total;
}

bool CFirmwareCatalog::FindLatestFirmware(const std::string& model, const std::string& hwVer,
                                          const std::string& productName,
                                          std::vector<std::string>& versions,
                                          std::vector<std::string>& paths) const {
    versions.clear();
    paths.clear();
    // Models that report their model code as product name: their images are catalogued
    // under the product's real name.
    struct Substitute {
        const char* Code;
        const char* Product;
    };
    static constexpr Substitute kSubstitutes[] = {{"Kelvaron-71xR", "KT-710Rq"},
                                                  {"Kelvaron-35xV", "KT-350Vq"}};
    std::string product = productName;
    for (const Substitute& s : kSubstitutes) {
        if (model == s.Code && productName == s.Code) product = s.Product;
    }

    std::lock_guard lock(mutex_);
    for (const CFirmwareSeries& s : series_) {
        // std::string orders by unsigned bytes: "1.10" < "1.9".
        std::map<std::string, std::string> stored;
        for (const CFirmwareInfo& e : s.Entries) {
            if (SameDevice(e, product, model, hwVer) && !e.StoredFilename.empty()) {
                stored[e.StoredFWVer] = e.StoredFilename;
            }
        }
        if (stored.empty()) continue;
        for (const auto& [version, filename] : stored) {
            versions.push_back(version);
            paths.push_back(PathOf(filename));
        }
        return true;
    }
    return false;
}

std::vector<CFirmwareSeries> CFirmwareCatalog::Series() const {
    std::lock_guard lock(mutex_);
    return series_;
}

std::vector<std::string> CFirmwareCatalog::SeriesNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const CFirmwareSeries& s : series_) names.push_back(s.Name);
    return names;
}
