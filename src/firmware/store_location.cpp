#include "firmware/store_location.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "settings/settings.h"
#include "settings/xdg_folders.h"

namespace {

std::string DataHome() {
    const char* data = std::getenv("XDG_DATA_HOME");
    return data && data[0] == '/' ? std::string(data) : HomeFolder() + "/.local/share";
}

}  // namespace

std::string DefaultStorageFolder() {
    std::error_code error;
    if (std::filesystem::is_directory(kSharedStorageFolder, error) &&
        ::access(kSharedStorageFolder, W_OK | X_OK) == 0) {
        return kSharedStorageFolder;
    }
    const std::string folder = DataHome() + "/strelvane/NVR";
    std::filesystem::create_directories(folder, error);
    return folder;
}

std::string ResolveStorageFolder(const CSettings& settings) {
    std::string folder = settings.ReadStorageFolder();
    return folder.empty() ? DefaultStorageFolder() : folder;
}

std::string ResolveServerBase(const CSettings& settings) {
    return WithoutTrailingSlashes(settings.ReadServerUrl());
}

std::string WithoutTrailingSlashes(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

bool PrepareStoreFolder(const std::string& folder, std::string& error) {
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (!failed && std::filesystem::is_directory(folder, failed)) return true;
    error = "cannot use " + folder + " as the store folder: " +
            (failed ? failed.message() : std::string("it is not a folder"));
    return false;
}

std::shared_ptr<const CFileLock> LockStore(const std::string& folder,
                                           std::chrono::milliseconds wait) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<const CFileLock>> held;
    std::lock_guard lock(mutex);
    std::weak_ptr<const CFileLock>& slot = held[folder];
    if (std::shared_ptr<const CFileLock> shared = slot.lock()) return shared;
    std::optional<CFileLock> taken = CFileLock::TryAcquire(folder + "/firmware.xml.lock", wait);
    if (!taken) return nullptr;
    auto shared = std::make_shared<const CFileLock>(std::move(*taken));
    slot = shared;
    return shared;
}
