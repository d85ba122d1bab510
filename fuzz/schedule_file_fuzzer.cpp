// fw_config.xml as a user may have edited it: loaded, saved and loaded again, the
// entries must come back exactly as saved.
#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "fuzz_folder.h"
#include "schedule/schedule_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzFolder() + "/fw_config.xml";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const std::vector<CScheduleInfo> loaded = LoadSchedule(path);
    for (const CScheduleInfo& e : loaded) FUZZ_CHECK(e.UpgradeTime != 0);
    FUZZ_CHECK(SaveSchedule(path, loaded));
    const std::vector<CScheduleInfo> again = LoadSchedule(path);
    FUZZ_CHECK(ScheduleFileText(again) == ScheduleFileText(loaded));
    return 0;
}
