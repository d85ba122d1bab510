// A settings file a user may have edited: every name must read back what was written
// under it, and writing must not disturb what the other names read.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "fuzz_folder.h"
#include "settings/value_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string name = in.ConsumeRandomLengthString(32);
    const std::string value = in.ConsumeRandomLengthString(64);
    const std::string other = in.ConsumeRandomLengthString(32);
    const std::string file = in.ConsumeRemainingBytesAsString();

    const std::string path = FuzzFolder() + "/settings.conf";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(file.data(), static_cast<std::streamsize>(file.size()));
    CValueStore store(path);
    const std::optional<CValueStore::Value> before = store.Read(other);
    if (store.Write(name, value)) {
        const std::optional<CValueStore::Value> read = store.Read(name);
        FUZZ_CHECK(read && read->Text == [&] {
            // Blanks around a value are not part of it.
            const size_t first = value.find_first_not_of(" \t\v\f");
            const size_t last = value.find_last_not_of(" \t\v\f");
            return first == std::string::npos ? std::string()
                                              : value.substr(first, last - first + 1);
        }());
        // A second write of the same name replaces its line instead of adding one.
        const auto sizeOnce = std::filesystem::file_size(path);
        FUZZ_CHECK(store.Write(name, value));
        FUZZ_CHECK(std::filesystem::file_size(path) == sizeOnce);
        // Another name reads as before, unless it is the same name in another case.
        const std::optional<CValueStore::Value> after = store.Read(other);
        bool same = name.size() == other.size();
        for (size_t i = 0; same && i < name.size(); ++i)
            same = std::tolower(static_cast<unsigned char>(name[i])) ==
                   std::tolower(static_cast<unsigned char>(other[i]));
        if (!same)
            FUZZ_CHECK(before.has_value() == after.has_value() &&
                       (!before || before->Text == after->Text));
    }
    return 0;
}
