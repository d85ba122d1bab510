#include "app/cli/firmware_transfer_command.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>

#include "app/cli/cli_commands.h"
#include "app/cli/json_line.h"
#include "app/cli/terminal.h"
#include "base/text.h"
#include "firmware/download_status.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "firmware/store_transfer.h"
#include "web/download_progress.h"

namespace {

int Fail(const std::string& message) {
    PrintError("strelvane-cli firmware: " + message);
    return kExitFailed;
}

std::string JsonOf(const TransferLine& line) {
    return JsonLine()
        .Add("file", line.File)
        .Add("series", line.Series)
        .Add("model", line.Model)
        .Add("version", line.Version)
        .Add("size", line.Size)
        .Add("outcome", OutcomeWord(line.Outcome))
        .Add("reason", TransferReasonText(line))
        .Text();
}

std::string ReadableOf(const TransferLine& line, const Paint& paint) {
    const char* colour = line.Outcome == TransferOutcome::Taken     ? kGreen
                         : line.Outcome == TransferOutcome::Skipped ? kDim
                                                                    : kRed;
    std::string text = paint(StrFormat("%-8s", OutcomeWord(line.Outcome)), colour) + " " +
                       Printable(line.File) + "  " + Printable(line.Series) + " " +
                       Printable(line.Version);
    if (line.Reason != TransferReason::None) text += ": " + Printable(TransferReasonText(line));
    return text;
}

// The progress line on a terminal's standard error, with the time left; it is wiped
// before each result line so that the two never mix.
class ProgressLine {
public:
    ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}

    void Update(int64_t done, int64_t total) {
        if (!shown_) return;
        if (!estimator_) {
            estimator_.emplace(0, total);
            estimator_->Start(NowMs());
            done_ = 0;
        }
        int seconds = 0;
        int percent = 0;
        const int64_t chunk = done - done_;
        done_ = done;
        if (estimator_->Add(chunk, total - done, NowMs(), seconds, percent)) {
            text_ = ProgressText(seconds, percent);
            std::fprintf(stderr, "\r%s\x1b[K", text_.c_str());
            std::fflush(stderr);
        }
    }
    void Wipe() const {
        if (!shown_ || text_.empty()) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
    }
    void Restore() const {
        if (!shown_ || text_.empty()) return;
        std::fprintf(stderr, "\r%s\x1b[K", text_.c_str());
        std::fflush(stderr);
    }

private:
    static int64_t NowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    bool shown_;
    std::optional<DownloadProgressEstimator> estimator_;
    int64_t done_ = 0;
    std::string text_;
};

}  // namespace

int RunFirmwareTransfer(const std::string& action, const std::string& folder,
                        const std::string& storage) {
    CatchStopSignals();
    const std::shared_ptr<const CFileLock> storeLock = LockStore(storage);
    if (!storeLock) {
        return Fail("the firmware store " + storage +
                    " is busy: another process is downloading into it, merging its catalogue "
                    "or importing; try again when it has finished");
    }
    CFirmwareCatalog catalog(storage, "", [] { return false; });
    if (!catalog.ReadLocalCatalog()) {
        return Fail("cannot read the store's catalogue " + catalog.CatalogPath());
    }

    const bool readable = UseTerminalView(false);
    const Paint paint{ColourWanted()};
    ProgressLine progress;
    TransferHooks hooks;
    hooks.Stopped = StopRequested;
    hooks.Progress = [&](int64_t done, int64_t total) { progress.Update(done, total); };
    hooks.Line = [&](const TransferLine& line) {
        progress.Wipe();
        std::printf("%s\n", readable ? ReadableOf(line, paint).c_str() : JsonOf(line).c_str());
        std::fflush(stdout);
        progress.Restore();
    };
    TransferCounts counts;
    std::string error;
    const int result = action == "import" ? ImportStore(catalog, folder, hooks, counts, error)
                                          : ExportStore(catalog, folder, hooks, counts, error);
    progress.Wipe();
    if (result != 0) return Fail(error);
    if (readable) {
        std::printf("%s\n", paint(StrFormat("%d taken, %d skipped, %d refused", counts.Taken,
                                            counts.Skipped, counts.Refused),
                                  kBold)
                                .c_str());
    }
    if (StopRequested()) return Fail("interrupted");
    return counts.Refused > 0 ? kExitFailed : kExitOk;
}
