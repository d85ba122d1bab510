// The server's "/Firmware_V2.xml", which comes from the internet: merged into the
// catalogue, then the sizes and totals a download uses, and firmware.xml written from
// the result read back.
#include <cstdint>
#include <string_view>

#include "catalog_checks.h"
#include "fuzz_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFirmwareCatalog catalog(FuzzFolder(), "http://127.0.0.1:9", [] { return false; });
    catalog.ParseServerCatalog(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckCatalog(catalog);
    return 0;
}
