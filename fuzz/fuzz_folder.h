#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// A private folder for harnesses that go through files, made once per process and
// removed at exit (a crash leaves it in /tmp for the post-mortem).
class FuzzFolderOwner {
public:
    FuzzFolderOwner() {
        if (!::mkdtemp(path_.data())) std::abort();
    }
    ~FuzzFolderOwner() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_ = "/tmp/strelvane-fuzz-XXXXXX";
};

inline const std::string& FuzzFolder() {
    static const FuzzFolderOwner folder;
    return folder.Path();
}
