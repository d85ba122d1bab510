// The store's own firmware.xml, which a user may have edited: read as the program
// starts, then the sizes and totals a download uses, and the file written back read
// again. The store holds one image, "a.bin", so records naming it are kept.
#include <cstdint>
#include <fstream>
#include <string>

#include "catalog_checks.h"
#include "fuzz_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = FuzzFolder();
    static const bool image = static_cast<bool>(std::ofstream(folder + "/a.bin") << "1234");
    FUZZ_CHECK(image);
    std::ofstream(folder + "/firmware.xml", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    CFirmwareCatalog catalog(folder, "http://127.0.0.1:9", [] { return false; });
    if (!catalog.ReadLocalCatalog()) return 0;
    CheckCatalog(catalog);
    return 0;
}
