#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/upgrade_progress.h"

class CFirmwareCatalog;

// Carrying the firmware store to a machine that never reaches the firmware server: an
// export writes the store's verified images to a folder (a USB stick) as the server
// serves them, with the server's catalogue file naming them and a manifest for people;
// an import takes such a folder, or a copy of the server's own folder, and adds its
// images to a store. Both work under the store's lock, which the caller holds.

// The catalogue file of a carried folder: the server's name, so that a copy of the
// server's folder imports as it is and an exported folder can be served as a mirror.
constexpr const char* kCarriedCatalogFile = "Firmware_V2.xml";
// One line per image: file, size, MD5, series, version, tab-separated, with a header.
constexpr const char* kManifestFile = "manifest.tsv";

enum class TransferOutcome { Taken, Skipped, Refused };

// Why an image was skipped or refused (or None when taken).
enum class TransferReason {
    None,
    AlreadyStored,  // the store (export: the folder) holds this very image
    StoreIsNewer,   // the store holds a newer version for the device (`Detail`)
    BadRecord,      // the catalogue record names no usable file, size or MD5
    Missing,        // the image file is not in the folder
    WrongSize,      // the file has another size (`Detail`: the bytes found)
    WrongMd5,       // the bytes differ from their MD5 (`Detail`: the MD5 found)
    NameTaken,      // the store holds a different image under that file name
    ReadFailed,     // `Detail`: the system's reason
    WriteFailed,    // `Detail`: the system's reason
    Cancelled,
};

// What became of one image record.
struct TransferLine {
    std::string File;
    std::string Series;
    std::string Model;
    std::string Version;
    int64_t Size = 0;
    TransferOutcome Outcome = TransferOutcome::Taken;
    TransferReason Reason = TransferReason::None;
    std::string Detail;
};

struct TransferCounts {
    int Taken = 0;
    int Skipped = 0;
    int Refused = 0;
};

struct TransferHooks {
    // Each image's line, once it is settled.
    std::function<void(const TransferLine&)> Line;
    // Bytes copied so far of all the bytes to copy, after each chunk.
    std::function<void(int64_t done, int64_t total)> Progress;
    // Asked before each image and between chunks: true ends the run.
    std::function<bool()> Stopped;
};

// Whole-run failures (negative), besides rc::kOk.
constexpr int kNoCarriedCatalog = -31;  // the folder has no readable catalogue file
constexpr int kSameFolder = -32;        // the folder is the store itself
constexpr int kFolderUnwritable = -33;  // export: the folder or its files cannot be written

// Adds the images of `folder` to the store of `catalog` (loaded in this run). Each
// image is checked against the folder's catalogue: a plain file name, its size and its
// MD5, computed from the bytes as they are copied; only a whole, verified copy replaces
// anything in the store. An image the store holds already, or holds in a newer
// version, is skipped; nothing the store holds is lost. The folder is only read.
// Returns rc::kOk (the lines tell each image) or a run failure, `error` saying why.
int ImportStore(CFirmwareCatalog& catalog, const std::string& folder, const TransferHooks& hooks,
                TransferCounts& counts, std::string& error);

// Writes the images the store of `catalog` holds to `folder` (created when missing):
// each image as the server serves it, verified against its MD5 while copied (a damaged
// one is refused and left in the store for its next check), then the catalogue file and
// the manifest of what was written. An image the folder holds already is skipped.
int ExportStore(const CFirmwareCatalog& catalog, const std::string& folder,
                const TransferHooks& hooks, TransferCounts& counts, std::string& error);

// "taken", "skipped", "refused".
const char* OutcomeWord(TransferOutcome outcome);

// The reason of a line in the user's words, from [DownloadPage] texts (the command
// line's English by default); empty for a taken image.
std::string TransferReasonText(const TransferLine& line, const TextLookup& lookup = DefaultText);
