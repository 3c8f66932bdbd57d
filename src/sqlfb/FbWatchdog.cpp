#include "sqlfb/FbWatchdog.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace tarnwick::sqlfb::detail {
namespace {

using Clock = std::chrono::steady_clock;

class Watchdog {
public:
    static Watchdog& Instance() {
        static Watchdog watchdog;
        return watchdog;
    }

    std::uint64_t Watch(const FbClient& api, isc_db_handle db, Clock::time_point deadline, std::atomic<bool>* expired) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        const std::uint64_t id = ++lastId_;
        const bool earliest = entries_.empty() || deadline < Earliest();
        entries_.emplace(id, Entry{&api, db, deadline, expired});
        if (earliest) wake_.notify_one();
        return id;
    }

    void Release(std::uint64_t id) {
        std::lock_guard lock(mutex_);
        entries_.erase(id);
    }

    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    struct Entry {
        const FbClient* api;
        isc_db_handle db;
        Clock::time_point deadline;
        std::atomic<bool>* expired;
    };

    Clock::time_point Earliest() const {
        Clock::time_point earliest = Clock::time_point::max();
        for (const auto& [id, entry] : entries_) earliest = std::min(earliest, entry.deadline);
        return earliest;
    }

    void Run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (entries_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const Clock::time_point earliest = Earliest();
            if (Clock::now() < earliest) {
                wake_.wait_until(lock, earliest);
                continue;
            }
            for (auto it = entries_.begin(); it != entries_.end();) {
                if (it->second.deadline > Clock::now()) {
                    ++it;
                    continue;
                }
                // Closing the link from the client side wakes the call that waits on it. The
                // entry stays locked meanwhile, so the call cannot end and its handle go away.
                Entry& entry = it->second;
                entry.expired->store(true);
                ISC_STATUS_ARRAY status;
                isc_db_handle db = entry.db;
                entry.api->cancel_operation(status, &db, fb_cancel_abort);
                it = entries_.erase(it);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Entry> entries_;
    std::uint64_t lastId_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

WatchedCall::WatchedCall(const FbClient& api, isc_db_handle db, int seconds, std::atomic<bool>* expired) {
    if (seconds <= 0 || db == 0) return;
    id_ = Watchdog::Instance().Watch(api, db, Clock::now() + std::chrono::seconds(seconds), expired);
}

WatchedCall::~WatchedCall() {
    if (id_ != 0) Watchdog::Instance().Release(id_);
}

}  // namespace tarnwick::sqlfb::detail
