// The main window's start-up routine and the timers that follow the network and the
// hour of the firmware check; the tray balloons of the download notices.
#include <QDateTime>
#include <QMetaObject>
#include <QStringList>
#include <algorithm>

#include "firmware/download_manager.h"
#include "firmware/firmware_catalog.h"
#include "services/core_services.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/tray.h"

namespace {
constexpr int kFirmwareCheckMs = 30000;
constexpr int kNetworkPollMs = 3000;
constexpr int kCatalogWatchMs = 500;
constexpr int kBalloonDelayMs = 100;
constexpr int kBalloonMs = 10000;
constexpr int kDiskFullBalloonMs = 20000;
}  // namespace

void CMainWindow::StartupRoutine() {
    if (!running_ || exitRequested_) return;
    LoadCatalog();
    if (setup_.Network()) {
        firmwareCheck_.start(kFirmwareCheckMs);
    } else {
        downloadManager_->SetOffline(true);
        networkWait_.start(kNetworkPollMs);
    }
}

void CMainWindow::LoadCatalog() {
    // Only the local file holds the tabs and Exit: a camera network seldom reaches the
    // server, which may take its whole time-out to fail, or answer slowly.
    BeginBusy();
    const bool read = services_->Catalog()->ReadLocalCatalog();
    EndBusySoon();
    catalogLoading_ = true;
    if (!read) {
        // An unreadable local catalogue starts no check, so no "ready" gives the page
        // back. Queued, so it comes after the page's "loading".
        QMetaObject::invokeMethod(
            this, [this] { CatalogCheckEnded(); }, Qt::QueuedConnection);
        return;
    }
    services_->Catalog()->StartServerCheck();
    catalogWatch_.start(kCatalogWatchMs);
}

void CMainWindow::WatchCatalogCheck() {
    if (services_->Catalog()->IsCheckRunning()) return;
    catalogWatch_.stop();
    // A check that ends on a server text that is not well-formed sends no "ready"; the
    // page is given back all the same. Queued, behind a "ready" still on its way.
    QMetaObject::invokeMethod(
        this, [this] { CatalogCheckEnded(); }, Qt::QueuedConnection);
}

void CMainWindow::CatalogCheckEnded() {
    if (!catalogLoading_) return;
    catalogLoading_ = false;
    downloadPage_->ShowChecking(false);
}

void CMainWindow::CatalogReady() { catalogLoading_ = false; }

void CMainWindow::CheckFirmwareHour() {
    const QTime now = QTime::currentTime();
    const std::optional<int> hour = settings_.AutoCheckHour();
    if (hour && now.hour() == *hour && now.minute() == 0 && !autoCheckDone_) {
        autoCheckDone_ = true;
        if (!downloadManager_->HasWork()) services_->Catalog()->StartServerCheck();
    } else if ((!hour || now.hour() != *hour) && now.minute() > 0) {
        autoCheckDone_ = false;
    }
}

void CMainWindow::WaitForNetwork() {
    if (networkUp_ || !setup_.Network()) return;
    networkUp_ = true;
    networkWait_.stop();
    downloadManager_->SetOffline(false);
    LoadCatalog();
    networkWatch_.start(kNetworkPollMs);
    firmwareCheck_.start(kFirmwareCheckMs);
}

void CMainWindow::WatchNetwork() {
    if (setup_.Network()) return;
    networkWatch_.stop();
    networkUp_ = false;
    networkWait_.start(kNetworkPollMs);
}

void CMainWindow::ShowBalloon(std::string_view key, std::string_view def, const QString& argument) {
    QString text = ToQ(texts_->ReadLayoutText("TrayMenu", key, def));
    if (!argument.isNull()) text.replace("%s", argument);
    tray_->ShowBalloon(ToQ(texts_->ReadLayoutText("TrayMenu", "BalloonTitle", "Information")), text,
                       kBalloonMs);
}

// The notices of the download page come in bursts (several series end at once); each
// kind shows one balloon 100 ms after the last of a burst, naming every series of it.
void CMainWindow::SetDownloadedName(const std::string& name) {
    if (!downloadedBalloon_.isActive()) downloadedNames_.clear();
    if (std::find(downloadedNames_.begin(), downloadedNames_.end(), name) ==
        downloadedNames_.end()) {
        downloadedNames_.push_back(name);
    }
    downloadedBalloon_.start(kBalloonDelayMs);
}

// Each series has had its own balloon; the end of all of them shows nothing more.
void CMainWindow::NotifyAllDownloadsFinished() {}

void CMainWindow::NotifyNewFirmware() { newFirmwareBalloon_.start(kBalloonDelayMs); }

void CMainWindow::NotifyDiskFull() { diskFullBalloon_.start(kBalloonDelayMs); }

void CMainWindow::ShowDownloadedBalloon() {
    QStringList names;
    for (const std::string& name : downloadedNames_) names << ToQ(name);
    ShowBalloon("DownloadedBalloonInfo", "%s has been downloaded", names.join(", "));
}

void CMainWindow::ShowNewFirmwareBalloon() {
    ShowBalloon("NewAvailableBalloonInfo", "New firmware available", QString());
}

void CMainWindow::ShowDiskFullBalloon() {
    tray_->ShowBalloon(
        ToQ(texts_->ReadLayoutText("TrayMenu", "DiskFullBalloonTitle", "Information")),
        ToQ(texts_->ReadLayoutText("TrayMenu", "DiskFullBalloonInfo",
                                   "There are not enough space, please release some space.")),
        kDiskFullBalloonMs);
}
