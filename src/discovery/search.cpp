#include "discovery/search.h"

#include <algorithm>
#include <system_error>

#include "base/text.h"
#include "base/trace.h"
#include "discovery/adapters.h"

CSearch::CSearch(std::string name) : name_(std::move(name)) {}

CSearch::~CSearch() { StopAndJoin(); }

void CSearch::Stop() { stop_ = true; }

void CSearch::AddListener(ISearchListener& listener) {
    std::lock_guard lock(settingsLock_);
    listeners_.push_back(&listener);
}

void CSearch::SetVendorList(const std::vector<std::string>& names) {
    std::lock_guard lock(settingsLock_);
    vendors_ = names;
}

void CSearch::SetInterfaceNames(const std::vector<std::string>& names) {
    std::lock_guard lock(settingsLock_);
    interfaceNames_ = names;
}

bool CSearch::IsAcceptedVendor(const std::string& vendor) const {
    std::lock_guard lock(settingsLock_);
    return std::any_of(vendors_.begin(), vendors_.end(),
                       [&](const std::string& name) { return ContainsNoCase(vendor, name); });
}

bool CSearch::IsKnownHost(const std::string& address) const {
    std::lock_guard lock(resultLock_);
    return results_.count(address) > 0;
}

void CSearch::ClearResultSet() {
    std::lock_guard lock(resultLock_);
    results_.clear();
}

void CSearch::RecordHost(const std::string& address) {
    std::lock_guard lock(resultLock_);
    results_.emplace(address, 1);
}

std::vector<AdapterEntry> CSearch::SearchAdapters() const {
    std::vector<std::string> names;
    {
        std::lock_guard lock(settingsLock_);
        names = interfaceNames_;
    }
    return EnumerateAdapters(names);
}

std::vector<ISearchListener*> CSearch::Listeners() const {
    std::lock_guard lock(settingsLock_);
    return listeners_;
}

void CSearch::LaunchReceiveThread(std::function<void(std::stop_token)> receive) {
    // A stop and a launch take turns: a search stopped is not restarted half-way.
    std::lock_guard lock(launchLock_);
    stop_ = false;
    ++running_;
    // The group joins the threads that have ended as it starts one, so that a long series
    // of searches (the reboot wait restarts one every second) leaves none behind.
    if (!threads_.Start([this, receive = std::move(receive)](std::stop_token token) {
            receive(token);
            --running_;
        })) {
        --running_;
        Trace("%s search: no receive thread", name_.c_str());
    }
}

void CSearch::StopAndJoin() {
    {
        std::lock_guard lock(launchLock_);
        stop_ = true;
    }
    threads_.JoinAll(true);
}
