// Cost of one layout text lookup: through CLayoutTexts (file parsed once, then a stat
// per lookup) against parsing the file for every lookup.
// Usage: layout_lookup_bench [lookups]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text.h"
#include "layout/layout_texts.h"
#include "settings/xdg_folders.h"

int main(int argc, char** argv) {
    const int lookups = argc > 1 ? std::atoi(argv[1]) : 20000;
    const auto folder = std::filesystem::temp_directory_path() / "strelvane-layout-bench";
    std::filesystem::create_directories(folder);
    std::string text;
    for (int s = 0; s < 20; ++s) {  // about the size of a full layout file
        text += StrFormat("[Page%d.Style]\n", s);
        for (int k = 0; k < 30; ++k) text += StrFormat("Key%d=10,20,80,24,1,9,Arial\n", k);
        text += StrFormat("[Page%d]\n", s);
        for (int k = 0; k < 30; ++k)
            text += StrFormat("Key%d=Text of key %d on page %d\n", k, k, s);
    }
    const std::string path = (folder / "Layout_EN.ini").string();
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);

    auto time = [&](auto&& lookup) {
        auto start = std::chrono::steady_clock::now();
        size_t total = 0;
        for (int i = 0; i < lookups; ++i) total += lookup(i).size();
        auto us =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start);
        return std::make_pair(us.count() / lookups, total);
    };
    CLayoutTexts texts(folder.string(), 9);
    auto cached = time([&](int i) {
        return texts.ReadLayoutText(StrFormat("Page%d", i % 20), StrFormat("Key%d", i % 30), "");
    });
    auto parsed = time([&](int i) {
        std::string bytes;
        ReadWholeFile(path, bytes);
        return CProfileText::Parse(bytes)
            .Find(StrFormat("Page%d", i % 20), StrFormat("Key%d", i % 30))
            .value_or("");
    });
    std::printf("layout file: %zu bytes, 1200 keys; %d lookups each\n", text.size(), lookups);
    std::printf("cached lookup:      %8.2f us\n", cached.first);
    std::printf("parse every lookup: %8.2f us\n", parsed.first);
    std::filesystem::remove_all(folder);
    return cached.second == parsed.second ? 0 : 1;
}
