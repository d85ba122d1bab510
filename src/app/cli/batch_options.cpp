#include "app/cli/batch_options.h"

#include <charconv>

namespace {

// A whole number from 0 to `most`; nothing for any other text.
std::optional<int> Count(const std::string& text, int most) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < 0 || value > most) return {};
    return value;
}

// Far beyond any site; keeps the arithmetic on them small.
constexpr int kMostFailures = 100000;
constexpr int kMostWatchMinutes = 24 * 60;

}  // namespace

const char* const kBatchOptionsUsage =
    "--first-of-each-model\n"
    "                 upgrade one device of each model first, alone; the others of that\n"
    "                 model start once it is back with its new firmware, and not at all\n"
    "                 when it failed (-601)\n"
    "--max-failures N once N devices have failed, start no further upload (-602); at most\n"
    "                 N uploads run at once, fewer as failures are counted (default 0: no\n"
    "                 limit)\n"
    "--until HH:MM    start no device that would not finish by then (-603): its image at\n"
    "                 the upload rate measured so far (or a cautious 2 Mbit/s), plus its\n"
    "                 model's wait for its return\n"
    "--watch-late M   after the run, look for devices that did not come back (-10) for M\n"
    "                 more minutes; one back with its new firmware gets a final line with\n"
    "                 code 601, \"returned late\" (default 0: no wait)\n";

std::vector<OptionSpec> BatchOptionSpecs() {
    return {{"--first-of-each-model", OptionKind::Flag},
            {"--max-failures", OptionKind::Single},
            {"--until", OptionKind::Single},
            {"--watch-late", OptionKind::Single}};
}

std::string ReadBatchOptions(const CliArgs& args, BatchOptions& options) {
    options.Policy.FirstOfEachModel = args.Has("--first-of-each-model");
    if (args.Has("--max-failures")) {
        std::optional<int> count = Count(args.Value("--max-failures"), kMostFailures);
        if (!count) return "--max-failures needs a whole number (0: no limit)";
        options.Policy.MaxFailures = *count;
    }
    if (args.Has("--until")) {
        options.Until = ParseTimeOfDay(args.Value("--until"));
        if (!options.Until) return "--until needs a time of day such as 05:30";
    }
    if (args.Has("--watch-late")) {
        std::optional<int> minutes = Count(args.Value("--watch-late"), kMostWatchMinutes);
        if (!minutes) return "--watch-late needs minutes, 0 to 1440";
        options.WatchLateMinutes = *minutes;
    }
    return std::string();
}

BatchPolicy RunPolicy(const BatchOptions& options, int64_t now) {
    BatchPolicy policy = options.Policy;
    if (options.Until) policy.WindowEnd = NextTimeOfDay(now, *options.Until);
    return policy;
}
