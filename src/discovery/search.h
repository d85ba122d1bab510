#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/thread_group.h"
#include "discovery/isearch.h"

// What every engine shares: listeners, the accepted vendors, the set of addresses that
// answered in the current search, the stop flag, the running count and the receive
// threads themselves, which the engine owns and joins.
class CSearch : public ISearch {
public:
    ~CSearch() override;
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    void Stop() override;
    void AddListener(ISearchListener& listener) override;
    std::string GetName() const override { return name_; }
    int GetRunningCount() const override { return running_.load(); }
    void SetVendorList(const std::vector<std::string>& names) override;

    // Limits the search to the adapters with these interface names (a technician's
    // second network card, a test's own adapters); empty means every adapter.
    void SetInterfaceNames(const std::vector<std::string>& names);

    // True when the vendor text contains one of the accepted names, ignoring case.
    bool IsAcceptedVendor(const std::string& vendor) const;
    // True when this address has answered in the current search.
    bool IsKnownHost(const std::string& address) const;
    void ClearResultSet();

protected:
    explicit CSearch(std::string name);

    // Clears the stop flag, counts the thread as running and starts `receive` on a
    // thread of its own; the count drops again when `receive` returns.
    void LaunchReceiveThread(std::function<void(std::stop_token)> receive);
    // Stops every receive thread and waits for each to end. The destructor of every
    // concrete engine calls it first, while the operations its threads use still exist.
    void StopAndJoin();
    bool StopRequested(const std::stop_token& token) const {
        return stop_.load() || token.stop_requested();
    }

    std::vector<AdapterEntry> SearchAdapters() const;
    std::vector<ISearchListener*> Listeners() const;
    // Adds the address to the result set unless it is there.
    void RecordHost(const std::string& address);

private:
    const std::string name_;

    mutable std::mutex resultLock_;  // guards results_
    std::map<std::string, int> results_;

    mutable std::mutex settingsLock_;  // guards the three lists below
    std::vector<ISearchListener*> listeners_;
    std::vector<std::string> vendors_;
    std::vector<std::string> interfaceNames_;

    std::atomic<bool> stop_{false};
    std::atomic<int> running_{0};

    std::mutex launchLock_;  // a launch and a stop take turns
    ThreadGroup threads_;    // the receive threads
};
