#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_args.h"
#include "base/time_of_day.h"
#include "upgrade/batch_guard.h"

// The guards of `strelvane-cli upgrade`: --first-of-each-model, --max-failures N,
// --until HH:MM and --watch-late MINUTES.
struct BatchOptions {
    BatchPolicy Policy;  // all but the window's end, which is known once the run's clock is
    std::optional<TimeOfDay> Until;
    int WatchLateMinutes = 0;
};

// The options' definitions, to add to the command's.
std::vector<OptionSpec> BatchOptionSpecs();

// The options' lines of the command's --help.
extern const char* const kBatchOptionsUsage;

// Reads the options into `options`; an error message for a bad value, else empty.
std::string ReadBatchOptions(const CliArgs& args, BatchOptions& options);

// The policy for a run whose clock reads `now` (seconds since 1970): the window ends at
// the first --until time from `now` on.
BatchPolicy RunPolicy(const BatchOptions& options, int64_t now);
