#pragma once
// Bounds the time a call may wait for a server over the network. A call that talks to the server
// is watched while it runs (WatchedCall); when the server has not answered within the
// connection's time-out, one background thread closes the connection's link from the client
// side, so the waiting call returns at once with the client library's network error instead of
// waiting for a link that may never come back. The link is then gone for good: every later call
// of that connection fails the same way, and nothing that was not committed is kept.

#include <ibase.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "sqlfb/FbClient.h"

namespace tarnwick::sqlfb::detail {

class WatchedCall {
public:
    // Watches `db` for `seconds` (no watch when 0 or less). `expired` is set when the time ran out.
    WatchedCall(const FbClient& api, isc_db_handle db, int seconds, std::atomic<bool>* expired);
    ~WatchedCall();
    WatchedCall(const WatchedCall&) = delete;
    WatchedCall& operator=(const WatchedCall&) = delete;

private:
    std::uint64_t id_ = 0;
};

}  // namespace tarnwick::sqlfb::detail
