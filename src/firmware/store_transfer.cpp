#include "firmware/store_transfer.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/result_codes.h"
#include "base/saturating.h"
#include "firmware/catalog_xml.h"
#include "firmware/file_md5.h"
#include "firmware/firmware_catalog.h"
#include "firmware/image_copy.h"

namespace {

bool IsMd5Text(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool SameFolder(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

TransferLine LineOf(const CatalogRecord& r) {
    return {r.Filename, r.Series, r.Model, r.FWVer, r.Size, TransferOutcome::Taken, {}, {}};
}

// A line with its outcome, counted and handed on.
void Settle(TransferLine line, TransferOutcome outcome, TransferReason reason, std::string detail,
            const TransferHooks& hooks, TransferCounts& counts) {
    line.Outcome = outcome;
    line.Reason = reason;
    line.Detail = std::move(detail);
    ++(outcome == TransferOutcome::Taken     ? counts.Taken
       : outcome == TransferOutcome::Skipped ? counts.Skipped
                                             : counts.Refused);
    if (hooks.Line) hooks.Line(line);
}

// The reason of a failed copy, with its detail.
std::pair<TransferReason, std::string> ReasonOf(const CopyOutcome& copy) {
    switch (copy.Failure) {
        case CopyFailure::None:
            break;
        case CopyFailure::Missing:
            return {TransferReason::Missing, {}};
        case CopyFailure::WrongSize:
            return {TransferReason::WrongSize, std::to_string(copy.FoundSize)};
        case CopyFailure::WrongMd5:
            return {TransferReason::WrongMd5, copy.FoundMd5};
        case CopyFailure::ReadFailed:
            return {TransferReason::ReadFailed, FileErrorText(copy.Error)};
        case CopyFailure::WriteFailed:
            return {TransferReason::WriteFailed, FileErrorText(copy.Error)};
        case CopyFailure::Cancelled:
            return {TransferReason::Cancelled, {}};
    }
    return {TransferReason::None, {}};
}

// Progress over the whole run: the bytes of the images settled before, plus the part
// of the one being copied.
struct RunProgress {
    const TransferHooks& Hooks;
    int64_t Total = 0;
    int64_t Before = 0;
    CopyProgress For() const {
        if (!Hooks.Progress) return {};
        return [this](int64_t done) { Hooks.Progress(SaturatingAdd(Before, done), Total); };
    }
    void Passed(int64_t bytes) {
        Before = SaturatingAdd(Before, bytes);
        if (Hooks.Progress) Hooks.Progress(Before, Total);
    }
};

bool Cancelled(const TransferHooks& hooks) { return hooks.Stopped && hooks.Stopped(); }

// The file at `path` holds exactly the image of `size` bytes and MD5 `md5`.
bool Holds(const std::string& path, bool hasHeader, int64_t size, const std::string& md5) {
    if (ImageBytesOf(path, hasHeader) != size) return false;
    std::string found;
    return (hasHeader ? ComputeFileMD5(path, found) : ComputeWholeFileMD5(path, found)) &&
           found == md5;
}

std::string ManifestText(const std::vector<CatalogRecord>& records) {
    std::string text = "file\tsize\tmd5\tseries\tversion\n";
    for (const CatalogRecord& r : records) {
        text += r.Filename + "\t" + std::to_string(r.Size) + "\t" + r.MD5 + "\t" + r.Series + "\t" +
                r.FWVer + "\n";
    }
    return text;
}

}  // namespace

int ImportStore(CFirmwareCatalog& catalog, const std::string& folder, const TransferHooks& hooks,
                TransferCounts& counts, std::string& error) {
    counts = {};
    if (SameFolder(folder, catalog.StorageFolder())) {
        error = folder + " is the store itself";
        return kSameFolder;
    }
    const std::string catalogPath = folder + "/" + kCarriedCatalogFile;
    std::string text;
    std::vector<CatalogRecord> records;
    if (!ReadFileBytes(catalogPath, text)) {
        error = "cannot read " + catalogPath + ": " + FileErrorText(errno);
        return kNoCarriedCatalog;
    }
    if (const size_t open = text.find('<'); open != std::string::npos) text.erase(0, open);
    if (!ReadCatalogRecords(text, records)) {
        error = catalogPath + " is not a firmware catalogue (not well-formed XML)";
        return kNoCarriedCatalog;
    }

    RunProgress progress{hooks};
    for (const CatalogRecord& r : records) progress.Total = SaturatingAdd(progress.Total, r.Size);
    for (const CatalogRecord& r : records) {
        const TransferLine line = LineOf(r);
        const auto settle = [&](TransferOutcome outcome, TransferReason reason,
                                std::string detail = {}) {
            Settle(line, outcome, reason, std::move(detail), hooks, counts);
            progress.Passed(r.Size);
        };
        if (Cancelled(hooks)) {
            settle(TransferOutcome::Refused, TransferReason::Cancelled);
            continue;
        }
        if (r.Filename.empty() || !IsPlainFileName(r.Filename) || !IsMd5Text(r.MD5) ||
            r.Size <= 0) {
            settle(TransferOutcome::Refused, TransferReason::BadRecord);
            continue;
        }
        std::string held;
        switch (catalog.HoldingFor(r, held)) {
            case CFirmwareCatalog::Holding::Same:
                settle(TransferOutcome::Skipped, TransferReason::AlreadyStored);
                continue;
            case CFirmwareCatalog::Holding::Newer:
                settle(TransferOutcome::Skipped, TransferReason::StoreIsNewer, held);
                continue;
            case CFirmwareCatalog::Holding::NameTaken:
                settle(TransferOutcome::Refused, TransferReason::NameTaken);
                continue;
            case CFirmwareCatalog::Holding::Nothing:
                break;
        }
        const std::string target = catalog.StorageFolder() + "/" + r.Filename;
        // Several records may name one image (one image for several models): the
        // store's file is taken as it is once it is that image.
        if (!Holds(target, true, r.Size, r.MD5)) {
            const CopyOutcome copied =
                CopyImage({folder + "/" + r.Filename, false, target, true, r.Size, r.MD5},
                          progress.For(), hooks.Stopped);
            if (copied.Failure != CopyFailure::None) {
                const auto [reason, detail] = ReasonOf(copied);
                settle(TransferOutcome::Refused, reason, detail);
                continue;
            }
        }
        if (!catalog.RecordImported(r)) {
            settle(TransferOutcome::Refused, TransferReason::WriteFailed, FileErrorText(errno));
            continue;
        }
        settle(TransferOutcome::Taken, TransferReason::None);
    }
    return rc::kOk;
}

int ExportStore(const CFirmwareCatalog& catalog, const std::string& folder,
                const TransferHooks& hooks, TransferCounts& counts, std::string& error) {
    counts = {};
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made || !std::filesystem::is_directory(folder, made)) {
        error = "cannot create the folder " + folder + ": " +
                (made ? made.message() : std::string("not a folder"));
        return kFolderUnwritable;
    }
    if (SameFolder(folder, catalog.StorageFolder())) {
        error = folder + " is the store itself";
        return kSameFolder;
    }

    std::vector<CFirmwareSeries> series = catalog.Series();
    RunProgress progress{hooks};
    for (const CFirmwareSeries& s : series) {
        for (const CFirmwareInfo& e : s.Entries) {
            if (!e.StoredFilename.empty()) progress.Total = SaturatingAdd(progress.Total, e.Size);
        }
    }
    std::vector<CatalogRecord> written;
    std::set<std::string> copied;
    for (CFirmwareSeries& s : series) {
        std::vector<CFirmwareInfo> kept;
        for (const CFirmwareInfo& e : s.Entries) {
            if (e.StoredFilename.empty()) continue;
            const CatalogRecord r{s.Name,           e.ProductName, e.Model, e.HWVer, e.StoredFWVer,
                                  e.StoredFilename, e.StoredMD5,   e.Size,  false};
            const auto settle = [&](TransferOutcome outcome, TransferReason reason,
                                    std::string detail = {}) {
                Settle(LineOf(r), outcome, reason, std::move(detail), hooks, counts);
                progress.Passed(r.Size);
                if (outcome != TransferOutcome::Refused) {
                    kept.push_back(e);
                    written.push_back(r);
                }
            };
            if (Cancelled(hooks)) {
                settle(TransferOutcome::Refused, TransferReason::Cancelled);
                continue;
            }
            const std::string target = folder + "/" + r.Filename;
            if (copied.count(r.Filename) > 0 || Holds(target, false, r.Size, r.MD5)) {
                settle(TransferOutcome::Skipped, TransferReason::AlreadyStored);
                continue;
            }
            const CopyOutcome copy = CopyImage(
                {catalog.StorageFolder() + "/" + r.Filename, true, target, false, r.Size, r.MD5},
                progress.For(), hooks.Stopped);
            if (copy.Failure != CopyFailure::None) {
                const auto [reason, detail] = ReasonOf(copy);
                settle(TransferOutcome::Refused, reason, detail);
                continue;
            }
            copied.insert(r.Filename);
            settle(TransferOutcome::Taken, TransferReason::None);
        }
        s.Entries = std::move(kept);
    }
    // The catalogue last: a folder whose export was cut off names no image it lacks.
    const std::string catalogPath = folder + "/" + kCarriedCatalogFile;
    if (!WriteFileAtomically(catalogPath, FirmwareXmlText(series)) ||
        !WriteFileAtomically(folder + "/" + kManifestFile, ManifestText(written))) {
        error = "cannot write " + catalogPath + ": " + FileErrorText(errno);
        return kFolderUnwritable;
    }
    return rc::kOk;
}

const char* OutcomeWord(TransferOutcome outcome) {
    switch (outcome) {
        case TransferOutcome::Taken:
            return "taken";
        case TransferOutcome::Skipped:
            return "skipped";
        case TransferOutcome::Refused:
            break;
    }
    return "refused";
}

std::string TransferReasonText(const TransferLine& line, const TextLookup& lookup) {
    constexpr std::string_view kSection = "DownloadPage";
    std::string text;
    switch (line.Reason) {
        case TransferReason::None:
            return {};
        case TransferReason::AlreadyStored:
            text = lookup(kSection, "AlreadyStoredReason", "already stored");
            break;
        case TransferReason::StoreIsNewer:
            text = lookup(kSection, "StoreIsNewerReason", "the store holds the newer version %s");
            break;
        case TransferReason::BadRecord:
            text = lookup(kSection, "BadRecordReason",
                          "the catalogue names no usable file, size or MD5 for it");
            break;
        case TransferReason::Missing:
            text = lookup(kSection, "MissingImageReason", "the image file is missing");
            break;
        case TransferReason::WrongSize:
            text = lookup(kSection, "WrongSizeReason",
                          "the file has %s bytes, the catalogue says %s (truncated or damaged)");
            break;
        case TransferReason::WrongMd5:
            text = lookup(kSection, "WrongMd5Reason",
                          "the bytes do not match the catalogue's MD5 (altered or damaged)");
            break;
        case TransferReason::NameTaken:
            text = lookup(kSection, "NameTakenReason",
                          "the store holds a different image under this file name");
            break;
        case TransferReason::ReadFailed:
            text = lookup(kSection, "ReadFailedReason", "cannot read the image: %s");
            break;
        case TransferReason::WriteFailed:
            text = lookup(kSection, "WriteFailedReason", "cannot write the image: %s");
            break;
        case TransferReason::Cancelled:
            text = lookup(kSection, "TransferCancelledReason", "cancelled");
            break;
    }
    // The text is the translator's: each %s is replaced in turn, never used as a format.
    const std::string values[] = {line.Detail, std::to_string(line.Size)};
    size_t at = 0;
    for (const std::string& value : values) {
        at = text.find("%s", at);
        if (at == std::string::npos) break;
        text.replace(at, 2, value);
        at += value.size();
    }
    return text;
}
