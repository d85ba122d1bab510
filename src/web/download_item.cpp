#include "web/download_item.h"

DownloadItemBase::DownloadItemBase(const DownloadItemBase& other) { *this = other; }

DownloadItemBase& DownloadItemBase::operator=(const DownloadItemBase& other) {
    Model = other.Model;
    HWVer = other.HWVer;
    FWVer = other.FWVer;
    LocalPath = other.LocalPath;
    Cancelled = other.Cancelled.load();
    SpaceOK = other.SpaceOK.load();
    Progress = other.Progress;
    return *this;
}
