#include "ui/inventory_export.h"

#include <cerrno>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "history/history_file.h"
#include "history/site_inventory.h"
#include "history/upgrade_history.h"
#include "ui/qt_text.h"

QString SaveInventory(const QString& path, const std::vector<CIPCamInfo>& devices,
                      const IFirmwareMatch& store, const std::string& historyPath) {
    const std::vector<InventoryRow> rows = BuildInventory(devices, store, ReadHistory(historyPath));
    const bool page =
        path.endsWith(".html", Qt::CaseInsensitive) || path.endsWith(".htm", Qt::CaseInsensitive);
    const std::string text =
        page ? InventoryHtml(rows, LocalTimeText(WallClockNow())) : InventoryCsv(rows);
    if (WriteFileAtomically(ToStd(path), text)) return {};
    return ToQ(FileErrorText(errno));
}
