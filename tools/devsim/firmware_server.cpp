#include "firmware_server.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

constexpr size_t kServerThreads = 8;

// The byte range asked for, or none. Only the single ranges a download asks for are
// understood ("bytes=N-", "bytes=N-M"); anything else is served whole.
bool ParseRange(const std::string& value, int64_t size, int64_t& first, int64_t& last) {
    if (value.rfind("bytes=", 0) != 0 || value.find(',') != std::string::npos) return false;
    const std::string bounds = value.substr(6);
    const size_t dash = bounds.find('-');
    if (dash == std::string::npos || dash == 0) return false;
    try {
        first = std::stoll(bounds.substr(0, dash));
        last = dash + 1 < bounds.size() ? std::stoll(bounds.substr(dash + 1)) : size - 1;
    } catch (const std::exception&) {
        return false;
    }
    last = std::min(last, size - 1);
    return true;
}

// A path inside the folder, or empty for anything that tries to leave it.
std::string FileInFolder(const std::string& folder, const std::string& requestPath) {
    const std::filesystem::path relative = std::filesystem::path(requestPath).relative_path();
    for (const auto& part : relative) {
        if (part == "..") return std::string();
    }
    const std::filesystem::path full = std::filesystem::path(folder) / relative;
    std::error_code error;
    return std::filesystem::is_regular_file(full, error) ? full.string() : std::string();
}

}  // namespace

const std::vector<std::string>& FirmwareServerFaultNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all = AnswerFaultNames();
        // A Range request is answered 200 with the whole file, as some servers do.
        all.push_back("ignore_range");
        return all;
    }();
    return names;
}

FirmwareServer::FirmwareServer(const FirmwareServerConfig& config) : config_(config) {}

FirmwareServer::~FirmwareServer() { Stop(); }

bool FirmwareServer::Start(std::string& error) {
    if (!ReadAnswerFaults(config_.Faults, faults_, error)) return false;
    server_.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    InstallAnswerFaults(server_, faults_, stopping_);
    auto serve = [this](const httplib::Request& req, httplib::Response& res) {
        ServeFile(req, res);
    };
    server_.Get("/.+", serve);
    server_.Post("/.+", serve);
    port_ = config_.Port == 0 ? server_.bind_to_any_port(config_.Address)
            : server_.bind_to_port(config_.Address, config_.Port) ? config_.Port
                                                                  : -1;
    if (port_ < 0) {
        error = "firmware server: cannot listen on " + config_.Address + ":" +
                std::to_string(config_.Port);
        return false;
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void FirmwareServer::Stop() {
    stopping_ = true;
    server_.stop();
    if (thread_.joinable()) thread_.join();
}

void FirmwareServer::ServeFile(const httplib::Request& req, httplib::Response& res) {
    if (config_.LogRequests) {
        // One line per request, so a test can see what a client asked for.
        const std::string range = req.get_header_value("Range");
        std::lock_guard lock(logMutex_);
        std::printf("request method=%s path=%s range=%s\n", req.method.c_str(), req.path.c_str(),
                    range.empty() ? "-" : range.c_str());
        std::fflush(stdout);
    }
    const std::string path = FileInFolder(config_.Folder, req.path);
    std::error_code error;
    const auto size = path.empty() ? 0 : std::filesystem::file_size(path, error);
    if (path.empty() || error) {
        res.status = 404;
        res.set_content("<html><body>404 Not Found</body></html>", "text/html");
        return;
    }
    auto file = std::shared_ptr<FILE>(std::fopen(path.c_str(), "rb"), [](FILE* f) {
        if (f) std::fclose(f);
    });
    if (!file) {
        res.status = 500;
        return;
    }
    const auto total = static_cast<int64_t>(size);
    int64_t first = 0;
    int64_t last = total - 1;
    const bool ranged = !config_.Faults.count("ignore_range") &&
                        ParseRange(req.get_header_value("Range"), total, first, last);
    if (ranged && (first >= total || last < first)) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(total));
        return;
    }
    if (ranged) {
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                            std::to_string(last) + "/" + std::to_string(total));
    } else {
        res.status = 200;
    }
    const bool xml = req.path.size() > 4 && req.path.compare(req.path.size() - 4, 4, ".xml") == 0;
    ServeBody(
        res,
        [file](int64_t offset, char* out, size_t max) {
            if (fseeko(file.get(), offset, SEEK_SET) != 0) return size_t{0};
            return std::fread(out, 1, max, file.get());
        },
        first, last - first + 1, xml ? "text/xml" : "application/octet-stream", faults_, stopping_);
}
