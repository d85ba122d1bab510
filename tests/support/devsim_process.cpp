#include "support/devsim_process.h"

#include <sstream>
#include <stdexcept>

std::map<std::string, std::string> KeyValueFields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (size_t eq = word.find('='); eq != std::string::npos) {
            fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return fields;
}

DevsimProcess::DevsimProcess(const std::vector<std::string>& args,
                             const std::vector<std::string>& prefix) {
    std::vector<std::string> argv = prefix;
    argv.push_back(DEVSIM_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = std::make_unique<ChildProcess>(argv);
    for (;;) {
        auto line = process_->ReadLine(std::chrono::seconds(20));
        if (!line) throw std::runtime_error("devsim did not become ready");
        if (*line == "ready") break;
        auto f = KeyValueFields(*line);
        if (line->rfind("device ", 0) == 0) {
            devices_.push_back({f["id"], f["address"], std::stoi(f["http_port"]),
                                std::stoi(f["https_port"]), f["endpoint"]});
        } else if (line->rfind("firmware-server ", 0) == 0) {
            firmwareServerPort_ = std::stoi(f["port"]);
        } else if (line->rfind("proxy ", 0) == 0) {
            proxyPort_ = std::stoi(f["port"]);
        }
    }
}

const DevsimProcess::Device& DevsimProcess::DeviceById(const std::string& id) const {
    for (const Device& d : devices_) {
        if (d.Id == id) return d;
    }
    throw std::runtime_error("devsim has no device " + id);
}

std::string DevsimProcess::NextLineWith(const std::string& text,
                                        std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0)) return {};
        auto line = process_->ReadLine(left);
        if (!line) return {};
        if (line->find(text) != std::string::npos) return *line;
    }
}
