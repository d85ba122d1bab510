#include "ui/download_page.h"

#include <QMetaObject>

#include "firmware/download_status.h"
#include "firmware/firmware_catalog.h"
#include "ui/skin.h"

CDownloadPage::CDownloadPage(IMainFrame& frame, QWidget* parent)
    : CPage(frame, "DownloadPage", parent), title_(this) {
    skin::SetTextColour(title_, skin::kCaption);
    ReloadTexts();
}

void CDownloadPage::ReloadTexts() {
    title_.setText(ToQString(Place(title_, "DescriptionLabel", "Check and download firmware")));
    update();
}

template <typename F>
void CDownloadPage::OnGuiThread(F&& call) {
    QMetaObject::invokeMethod(
        this,
        [this, call = std::forward<F>(call)] {
            if (!detached_) call();
        },
        Qt::QueuedConnection);
}

void CDownloadPage::Detach() {
    detached_ = true;
    coordinator_ = nullptr;
    catalog_ = nullptr;
}

bool CDownloadPage::HasServices() const { return coordinator_ != nullptr; }

void CDownloadPage::AttachServices(CDownloadCoordinator* coordinator, CFirmwareCatalog* catalog) {
    coordinator_ = coordinator;
    catalog_ = catalog;
}

void CDownloadPage::OnDownloadStatus(const std::string& series, int kind, int, int) {
    if (kind != download_kind::kFinished) return;
    OnGuiThread([this, series] { frame_.SetDownloadedName(series); });
}

void CDownloadPage::OnAllDownloadsFinished() {
    OnGuiThread([this] { frame_.NotifyAllDownloadsFinished(); });
}

void CDownloadPage::OnSeriesAdded(const std::string&, bool) {}

void CDownloadPage::OnSeriesQueued(const std::string&, bool) {}

void CDownloadPage::OnSeriesRemoved(const std::string&) {}

void CDownloadPage::OnCatalogChecked() {
    // Asked here, on the check thread: the question may hash whole images.
    bool older = false;
    if (CFirmwareCatalog* catalog = catalog_.load()) {
        for (const std::string& series : catalog->SeriesNames()) {
            older = catalog->AnyNeedsDownload(series) || older;
        }
    }
    // The check made at start-up never announces new firmware; later ones do.
    OnGuiThread([this, older] {
        const bool first = firstCheck_;
        firstCheck_ = false;
        if (older && !first) frame_.NotifyNewFirmware();
    });
}

void CDownloadPage::OnCatalogLoading() {
    OnGuiThread([this] { setEnabled(false); });
}

void CDownloadPage::OnCatalogReady() {
    OnGuiThread([this] {
        frame_.CatalogReady();
        setEnabled(true);
    });
}

void CDownloadPage::OnDiskFull() {
    OnGuiThread([this] { frame_.NotifyDiskFull(); });
}

void CDownloadPage::RefreshSeriesStatuses() {}
