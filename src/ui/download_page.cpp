#include "ui/download_page.h"

#include <QMetaObject>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "base/result_codes.h"
#include "firmware/download_coordinator.h"
#include "firmware/download_status.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "firmware/store_transfer.h"
#include "layout/layout_texts.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "web/download_progress.h"

namespace {

constexpr int kStoreIdlePollMs = 500;
// A message names at most this many refused images; the command line tells them all.
constexpr int kRefusedShown = 8;

// What a transfer on the worker hands to the user-interface thread.
struct TransferResult {
    int Code = 0;
    std::string Error;
    TransferCounts Counts;
    std::vector<TransferLine> Refused;
};

// Replaces each "%d" (or "%s") of a translator's text in turn; never used as a format.
QString FillIn(QString text, const QStringList& values) {
    qsizetype at = 0;
    for (const QString& value : values) {
        const qsizetype d = text.indexOf("%d", at);
        const qsizetype s = text.indexOf("%s", at);
        at = d < 0 ? s : (s < 0 ? d : std::min(d, s));
        if (at < 0) break;
        text.replace(at, 2, value);
        at += value.size();
    }
    return text;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the store says of each catalogue series, asked on a notifying thread: the
// questions may hash whole images.
struct StoreState {
    bool Older = false;   // some image is newer on the server, missing or unsound
    bool Stored = false;  // every image is stored
};

}  // namespace

CDownloadPage::CDownloadPage(IMainFrame& frame, QWidget* parent)
    : CPage(frame, "DownloadPage", parent),
      description_(this),
      listArea_(this),
      list_(&listArea_),
      selectAll_(CSkinButton::Kind::Push, this),
      cancelAll_(CSkinButton::Kind::Push, this),
      import_(CSkinButton::Kind::Push, this),
      export_(CSkinButton::Kind::Push, this),
      folderChooser_(ModalFolderChooser(*this)) {
    skin::SetTextColour(description_, skin::kCaption);
    skin::MakeListPlace(listArea_, {&list_});
    list_.setObjectName("FirmwareList");
    list_.setAccessibleName("FirmwareList");
    connect(&selectAll_, &QAbstractButton::clicked, this, &CDownloadPage::SelectAll);
    connect(&cancelAll_, &QAbstractButton::clicked, this, &CDownloadPage::CancelAll);
    connect(&import_, &QAbstractButton::clicked, this, &CDownloadPage::Import);
    connect(&export_, &QAbstractButton::clicked, this, &CDownloadPage::Export);
    storeIdleWatch_.setInterval(kStoreIdlePollMs);
    connect(&storeIdleWatch_, &QTimer::timeout, this, &CDownloadPage::ReleaseStoreLockWhenIdle);
    worker_.setMaxThreadCount(1);
    ReloadTexts();
}

CDownloadPage::~CDownloadPage() { worker_.waitForDone(); }

void CDownloadPage::ReloadTexts() {
    PlaceDescription();
    selectAll_.setText(ToQString(Place(selectAll_, "SelectAllButton", "Select All")));
    cancelAll_.setText(ToQString(Place(cancelAll_, "DeselectAllButton", "Cancel All")));
    import_.setText(ToQString(Place(import_, "ImportButton", "Import")));
    export_.setText(ToQString(Place(export_, "ExportButton", "Export")));
    PlaceLists(listArea_, "FirmwareList", {&list_});
    list_.SetColumns({QString(), PageText("NoField", "No"), PageText("SeriesField", "Series"),
                      PageText("StatusField", "Status")},
                     {30, 50, 175, 363});
    // The cells already shown follow the language too.
    list_.SetStatusTexts({PageText("LatestStatus", "Latest"), PageText("OlderStatus", "Older"),
                          PageText("WaitingStatus", "Waiting"), PageText("StopStatus", "Stop"),
                          PageText("FinishStatus", "Finish"),
                          PageText("NetworkBreakStatus", "Network break"),
                          PageText("FileIsNotExistStatus", "File is not exist!")});
    const QString noSpace = PageText("NoSpaceStatus", "Not enough free space");
    if (!noSpaceText_.isEmpty())
        list_.RenameTexts({{noSpaceText_, noSpace}}, {firmware_field::kStatus});
    noSpaceText_ = noSpace;
    for (auto& [series, worded] : worded_) {
        const int row = list_.FindSeries(series);
        if (row >= 0 && list_.GetField(row, firmware_field::kStatus) == worded.Shown) {
            worded.Shown = worded.Word();
            list_.SetStatus(row, worded.Shown);
        }
    }
    update();
}

void CDownloadPage::PlaceDescription() {
    const QString text =
        ToQString(Place(description_, "DescriptionLabel", "Check and download firmware"));
    if (!transferProgress_.isEmpty()) {
        description_.setText(transferProgress_);
        return;
    }
    if (checking_) {
        description_.setText(
            PageText("CheckingLabel", "Checking the firmware server for new firmware..."));
    } else if (proxyRefused_) {
        description_.setText(PageText(
            "ProxyRefusedLabel",
            "The proxy refused the connection or its log-in: check the proxy on the Setting "
            "page."));
    } else {
        description_.setText(text);
    }
}

void CDownloadPage::ShowChecking(bool checking) {
    checking_ = checking;
    setEnabled(!checking);
    PlaceDescription();
}

void CDownloadPage::SetControlsEnabled(bool enabled) {
    enabled = enabled && pending_ == 0;
    selectAll_.setEnabled(enabled);
    cancelAll_.setEnabled(enabled);
    import_.setEnabled(enabled);
    export_.setEnabled(enabled);
    list_.setEnabled(enabled);
}

void CDownloadPage::RunRequest(std::function<bool()> work, std::function<void()> then) {
    ++pending_;
    SetControlsEnabled(false);
    frame_.BeginBusy();
    frame_.SetWaitCursor(true);
    worker_.start([this, work = std::move(work), then = std::move(then)] {
        const bool done = work();
        QMetaObject::invokeMethod(
            this,
            [this, done, then] {
                if (then) then();
                --pending_;
                if (pending_ == 0) {
                    frame_.SetWaitCursor(false);
                    frame_.EndBusySoon();
                }
                SetControlsEnabled(true);
                if (!done) SayStoreBusy();
                if (HoldsStoreLock()) storeIdleWatch_.start();
            },
            Qt::QueuedConnection);
    });
}

bool CDownloadPage::TakeStoreLock() {
    CFirmwareCatalog* catalog = catalog_;
    if (!catalog) return false;
    {
        std::lock_guard lock(storeLockMutex_);
        if (storeLock_) return true;
    }
    // Only this worker takes the lock, and the page lets it go only while no request
    // runs, so the wait needs no guard.
    std::shared_ptr<const CFileLock> taken = LockStore(catalog->StorageFolder());
    std::lock_guard lock(storeLockMutex_);
    storeLock_ = std::move(taken);
    return storeLock_ != nullptr;
}

bool CDownloadPage::HoldsStoreLock() const {
    std::lock_guard lock(storeLockMutex_);
    return storeLock_ != nullptr;
}

void CDownloadPage::ReleaseStoreLockWhenIdle() {
    CDownloadCoordinator* coordinator = coordinator_;
    if (pending_ > 0 || (coordinator && coordinator->Manager().HasWork())) return;
    storeIdleWatch_.stop();
    std::lock_guard lock(storeLockMutex_);
    storeLock_.reset();
}

void CDownloadPage::SayStoreBusy() {
    // Downloads and notifications go on while it is shown.
    ShowOkBox(*this, frame_.Texts(), "StoreBusyMessage",
              PageText("StoreBusyMessage",
                       "Another program is working on the firmware store. Try again when it "
                       "has finished."));
}

void CDownloadPage::SelectAll() {
    CDownloadCoordinator* coordinator = coordinator_;
    if (!coordinator || pending_ > 0) return;
    std::vector<std::string> series;
    list_.SetAllChecks(true);
    for (int row = 0; row < list_.RowCount(); ++row) series.push_back(ToStd(list_.SeriesAt(row)));
    RunRequest(
        [this, coordinator, series] {
            if (!TakeStoreLock()) return false;
            for (const std::string& name : series) coordinator->SelectSeries(name);
            coordinator->DownloadSelected();
            return true;
        },
        {});
}

void CDownloadPage::CancelAll() {
    CDownloadCoordinator* coordinator = coordinator_;
    if (!coordinator || pending_ > 0) return;
    RunRequest(
        [coordinator] {
            coordinator->CancelAll();
            return true;
        },
        [this] { list_.SetAllChecks(false); });
}

void CDownloadPage::Import() { Transfer(true); }

void CDownloadPage::Export() { Transfer(false); }

void CDownloadPage::Transfer(bool import) {
    CDownloadCoordinator* coordinator = coordinator_;
    CFirmwareCatalog* catalog = catalog_;
    if (!coordinator || !catalog || pending_ > 0) return;
    // Downloads of this program share its hold on the store: they would race the copy.
    if (coordinator->Manager().HasWork()) {
        ShowOkBox(*this, frame_.Texts(), "TransferWhileDownloadingMessage",
                  PageText("TransferWhileDownloadingMessage",
                           "Wait until the downloads have ended, then try again."));
        return;
    }
    const QString folder = folderChooser_();
    if (folder.isEmpty()) return;
    auto result = std::make_shared<TransferResult>();
    RunRequest(
        [this, catalog, import, folder = ToStd(folder), result] {
            if (!TakeStoreLock()) return false;
            std::optional<DownloadProgressEstimator> estimate;
            int64_t before = 0;
            TransferHooks hooks;
            hooks.Stopped = [this] { return IsDetached(); };
            hooks.Line = [result](const TransferLine& line) {
                if (line.Outcome == TransferOutcome::Refused) result->Refused.push_back(line);
            };
            // Throttled by the estimate: at most one update a second reaches the page.
            hooks.Progress = [&](int64_t done, int64_t total) {
                if (!estimate) {
                    estimate.emplace(0, total);
                    estimate->Start(NowMs());
                }
                int seconds = 0;
                int percent = 0;
                const int64_t chunk = done - before;
                before = done;
                if (!estimate->Add(chunk, total - done, NowMs(), seconds, percent)) return;
                OnGuiThread([this, import, seconds, percent] {
                    const QString done =
                        ToQ(ProgressText(seconds, percent, frame_.Texts().Lookup()));
                    ShowTransferProgress(
                        QString(
                            PageText(import ? "ImportingLabel" : "ExportingLabel",
                                     import ? "Importing firmware: %s" : "Exporting firmware: %s"))
                            .replace("%s", done));
                });
            };
            result->Code =
                import ? ImportStore(*catalog, folder, hooks, result->Counts, result->Error)
                       : ExportStore(*catalog, folder, hooks, result->Counts, result->Error);
            if (import) RefreshSeriesStatuses();
            return true;
        },
        [this, import, result] {
            ShowTransferProgress({});
            if (result->Code != 0) {
                ShowOkBox(*this, frame_.Texts(), "TransferFailedMessage",
                          FillIn(PageText("TransferFailedMessage",
                                          "The firmware could not be carried: %s"),
                                 {ToQ(result->Error)}));
                return;
            }
            const TransferCounts& c = result->Counts;
            QString text = FillIn(
                import ? PageText("ImportDoneMessage", "Import: %d taken, %d skipped, %d refused.")
                       : PageText("ExportDoneMessage",
                                  "Export: %d written, %d already there, %d refused."),
                {QString::number(c.Taken), QString::number(c.Skipped), QString::number(c.Refused)});
            int shown = 0;
            for (const TransferLine& line : result->Refused) {
                if (shown++ == kRefusedShown) break;
                text += "\n" + ToQ(line.File) + ": " +
                        ToQ(TransferReasonText(line, frame_.Texts().Lookup()));
            }
            ShowOkBox(*this, frame_.Texts(), import ? "ImportDoneMessage" : "ExportDoneMessage",
                      text);
        });
}

void CDownloadPage::ShowTransferProgress(const QString& text) {
    transferProgress_ = text;
    PlaceDescription();
}

void CDownloadPage::PersistSelections() {
    CFirmwareCatalog* catalog = catalog_;
    if (!catalog) return;
    for (int row = 0; row < list_.RowCount(); ++row) {
        catalog->SetChecked(ToStd(list_.SeriesAt(row)), list_.IsChecked(row));
    }
}

void CDownloadPage::Detach() {
    MarkDetached();
    coordinator_ = nullptr;
    catalog_ = nullptr;
    worker_.waitForDone();
    storeIdleWatch_.stop();
    std::lock_guard lock(storeLockMutex_);
    storeLock_.reset();
}

bool CDownloadPage::HasServices() const { return coordinator_ != nullptr; }

void CDownloadPage::AttachServices(CDownloadCoordinator* coordinator, CFirmwareCatalog* catalog) {
    coordinator_ = coordinator;
    catalog_ = catalog;
}

void CDownloadPage::ShowStatus(const QString& series, int kind, int a, int b) {
    const int row = list_.FindSeries(series);
    if (row < 0) return;
    switch (kind) {
        case download_kind::kProgress:
            // Bytes flow again: a failure it was retrying is over; an image that failed
            // its checksum still leaves the series short.
            if (auto failed = failures_.find(series);
                failed != failures_.end() && failed->second.Retrying) {
                failures_.erase(failed);
            }
            ShowWorded(row, series,
                       [this, a, b] { return ToQ(ProgressText(a, b, frame_.Texts().Lookup())); });
            break;
        case download_kind::kFinished:
            failures_.erase(series);
            list_.SetStatus(row, list_.StatusText(CFirmwareListCtrl::kLatest));
            frame_.SetDownloadedName(ToStd(series));
            break;
        case download_kind::kStopped:
            // Stopped after a failure: the row keeps saying why.
            if (auto failed = failures_.find(series); failed != failures_.end()) {
                failed->second.Retrying = false;
                ShowFailure(row, series, failed->second);
            } else {
                list_.SetStatus(row, list_.StatusText(CFirmwareListCtrl::kOlder));
            }
            break;
        case download_kind::kNetworkError:
            list_.SetStatus(row, list_.StatusText(CFirmwareListCtrl::kNetworkBreak));
            break;
        case download_kind::kNoSpace:
            list_.SetStatus(row, noSpaceText_);
            break;
        default:  // an image stored: the progress that follows tells more
            break;
    }
}

void CDownloadPage::ShowWorded(int row, const QString& series, std::function<QString()> word) {
    Worded& worded = worded_[series];
    worded.Word = std::move(word);
    worded.Shown = worded.Word();
    list_.SetStatus(row, worded.Shown);
}

void CDownloadPage::ShowFailure(int row, const QString& series, Failure failure) {
    ShowWorded(row, series, [this, failure] {
        const QString reason = ToQ(DownloadFailureText(failure.Result, frame_.Texts().Lookup()));
        const QString text = failure.Retrying ? PageText("RetryingStatus", "%s; trying again")
                                              : PageText("FailedStatus", "Failed: %s");
        return QString(text).replace("%s", reason);
    });
}

void CDownloadPage::OnDownloadFailed(const std::string& series, const std::string&, int result, int,
                                     bool retrying) {
    OnGuiThread([this, series = ToQ(series), result, retrying] {
        const int row = list_.FindSeries(series);
        if (row < 0) return;
        const Failure failure{result, retrying};
        failures_[series] = failure;
        // While it waits for space, the no-space status already says why.
        if (!(retrying && result == rc::kSinkStopped)) ShowFailure(row, series, failure);
    });
}

void CDownloadPage::OnDownloadStatus(const std::string& series, int kind, int a, int b) {
    OnGuiThread([this, series = ToQ(series), kind, a, b] { ShowStatus(series, kind, a, b); });
}

void CDownloadPage::OnAllDownloadsFinished() {
    OnGuiThread([this] { frame_.NotifyAllDownloadsFinished(); });
}

void CDownloadPage::OnSeriesAdded(const std::string& series, bool selected) {
    OnGuiThread([this, series = ToQ(series), selected] {
        if (list_.FindSeries(series) < 0) list_.AppendSeries(series, selected);
    });
}

void CDownloadPage::OnSeriesQueued(const std::string& series, bool nothingQueued) {
    // Asked here: the answer reads the store.
    CFirmwareCatalog* catalog = catalog_;
    const bool missing =
        nothingQueued && !Connected() && catalog && !catalog->AllImagesStored(series);
    OnGuiThread([this, series = ToQ(series), nothingQueued, missing] {
        const int row = list_.FindSeries(series);
        if (row < 0) return;
        failures_.erase(series);
        if (!nothingQueued) {
            list_.SetStatus(row, list_.StatusText(CFirmwareListCtrl::kWaiting));
        } else if (missing) {
            list_.SetStatus(row, list_.StatusText(CFirmwareListCtrl::kFileIsNotExist));
        } else {
            list_.SetStatus(row, list_.StatusText(CFirmwareListCtrl::kLatest));
            frame_.SetDownloadedName(ToStd(series));
        }
    });
}

void CDownloadPage::OnSeriesRemoved(const std::string& series) {
    OnGuiThread([this, series = ToQ(series)] { list_.DeleteRow(list_.FindSeries(series)); });
}

void CDownloadPage::OnCatalogChecked() {
    // Asked here, on the check thread: the questions may hash whole images (and repair
    // what they find broken).
    std::map<QString, StoreState> states;
    if (CFirmwareCatalog* catalog = catalog_.load()) {
        for (const std::string& series : catalog->SeriesNames()) {
            states[ToQ(series)] = {catalog->AnyNeedsDownload(series),
                                   catalog->AllImagesStored(series)};
        }
    }
    const bool connected = Connected();
    const CFirmwareCatalog* asked = catalog_.load();
    const bool proxyRefused = asked && asked->LastFetchResult() == rc::kProxyRefused;
    OnGuiThread([this, states = std::move(states), connected, proxyRefused] {
        proxyRefused_ = proxyRefused;
        PlaceDescription();
        bool older = false;
        for (int row = 0; row < list_.RowCount(); ++row) {
            const auto it = states.find(list_.SeriesAt(row));
            const StoreState state = it == states.end() ? StoreState{} : it->second;
            CFirmwareListCtrl::Status status = CFirmwareListCtrl::kLatest;
            if (state.Older) {
                status = CFirmwareListCtrl::kOlder;
                older = true;
            } else if (!connected && !state.Stored) {
                status = CFirmwareListCtrl::kFileIsNotExist;
            }
            list_.SetStatus(row, list_.StatusText(status));
        }
        // The check made at start-up never announces new firmware; later ones do.
        if (older && !firstCheck_) frame_.NotifyNewFirmware();
        firstCheck_ = false;
    });
}

void CDownloadPage::OnCatalogLoading() {
    OnGuiThread([this] { ShowChecking(true); });
}

void CDownloadPage::OnCatalogReady() {
    OnGuiThread([this] {
        auto ready = [this] {
            frame_.CatalogReady();
            ShowChecking(false);
        };
        std::vector<std::string> checked;
        for (int row = 0; row < list_.RowCount(); ++row) {
            if (list_.IsChecked(row)) checked.push_back(ToStd(list_.SeriesAt(row)));
        }
        CDownloadCoordinator* coordinator = coordinator_;
        if (checked.empty() || !coordinator || frame_.IsShuttingDown()) {
            ready();
            return;
        }
        RunRequest(
            [this, coordinator, checked] {
                if (!TakeStoreLock()) return false;
                for (const std::string& series : checked) coordinator->DownloadSeries(series);
                return true;
            },
            ready);
    });
}

void CDownloadPage::OnDiskFull() {
    OnGuiThread([this] { frame_.NotifyDiskFull(); });
}

void CDownloadPage::RefreshSeriesStatuses() {
    std::map<QString, bool> stored;
    if (CFirmwareCatalog* catalog = catalog_.load()) {
        for (const std::string& series : catalog->SeriesNames()) {
            stored[ToQ(series)] = catalog->AllImagesStored(series);
        }
    }
    // Only the store's state is shown again: nothing was downloaded, so no balloon.
    OnGuiThread([this, stored = std::move(stored)] {
        for (int row = 0; row < list_.RowCount(); ++row) {
            const auto it = stored.find(list_.SeriesAt(row));
            const bool held = it != stored.end() && it->second;
            list_.SetStatus(row, list_.StatusText(held ? CFirmwareListCtrl::kLatest
                                                       : CFirmwareListCtrl::kOlder));
        }
    });
}
