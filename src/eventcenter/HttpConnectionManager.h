#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace talvern {

class IRequest;
class IResponse;

/// A parked long-poll exchange: the request and response (alive until the response is finished) and
/// the id of its time-out timer.
struct PendingConnection {
    IRequest* request = nullptr;
    IResponse* response = nullptr;
    std::uint32_t timerId = 0;
};

/// The parked long polls by connection number. Taking an entry out is what decides who answers it:
/// a broadcast and a time-out race for it and only one of them gets it.
class HttpConnectionManager {
public:
    void add(std::int64_t number, const PendingConnection& connection);
    /// Records the time-out timer of a parked entry (no effect once it was taken).
    void setTimer(std::int64_t number, std::uint32_t timerId);
    /// Removes and returns one entry, or nothing.
    std::optional<PendingConnection> take(std::int64_t number);
    /// Removes and returns every entry.
    std::vector<PendingConnection> takeAll();
    std::size_t size() const;

private:
    mutable std::mutex m_mutex;  // guards the connections
    std::map<std::int64_t, PendingConnection> m_connections;
};

}  // namespace talvern
