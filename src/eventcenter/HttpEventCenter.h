#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "eventcenter/EventManager.h"
#include "eventcenter/HttpConnectionManager.h"

namespace talvern {

namespace utilities {
class Timer;
}
class IRequest;
class IResponse;

/// Web events for HTTP clients: keeps the last 256 and answers long polls on the events route. A poll
/// that asks for stored events (fromId > 0) and finds some is answered at once; any other poll is
/// parked until the next event or its time-out, whichever takes it first. Always owned by a shared
/// pointer (its timers hold weak references to it).
///
///     auto center = std::make_shared<HttpEventCenter>(utilities::Timer::instance());
///     router.addRoute("/v1/service/events", HttpRouter::Post,
///                     [center](IRequest* q, IResponse* r) { center->handleLongPoll(q, r); });
///     center->broadcast("statusEvent|login", R"({"event":"login"})");
class HttpEventCenter : public std::enable_shared_from_this<HttpEventCenter> {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

    /// `defaultTimeout` is the wait of a poll that names none (its "timeout" is 0).
    explicit HttpEventCenter(utilities::Timer& timer,
                             std::chrono::milliseconds defaultTimeout = kDefaultTimeout);
    /// Parked polls still waiting are answered with the time-out reply.
    virtual ~HttpEventCenter();
    HttpEventCenter(const HttpEventCenter&) = delete;
    HttpEventCenter& operator=(const HttpEventCenter&) = delete;

    /// The long-poll handler of the events route (body: an EventReq).
    void handleLongPoll(IRequest* request, IResponse* response);
    /// Stores the event (a logout first empties the store) and answers every parked poll with it.
    std::shared_ptr<details::Event> broadcast(const std::string& topic, const std::string& content);
    /// Writes the events reply and finishes the response.
    void dispatch(IRequest* request, IResponse* response,
                  const std::vector<std::shared_ptr<details::Event>>& events);

    /// {"code":0,"message":"OK","data":{"events":[contents...],"id":largest id + 1 (1 with none)}}.
    static std::string eventsReply(const std::vector<std::shared_ptr<details::Event>>& events);
    /// The reply of a poll that timed out: data.id = newest stored id + 1, or 0 when none is stored.
    std::string timeoutReply() const;

    details::EventManager& events() { return m_eventManager; }
    /// Polls parked now.
    std::size_t parkedCount() const { return m_connectionManager.size(); }

private:
    /// Logs and writes an events reply.
    void reply(IRequest* request, IResponse* response, const std::string& text);

    void onTimeout(std::int64_t number);

    details::EventManager m_eventManager;
    std::chrono::milliseconds m_defaultTimeout;
    utilities::Timer& m_timer;
    HttpConnectionManager m_connectionManager;
    std::mutex m_parkingMutex;  // a look at the store with parking, a store with taking the parked
    std::atomic<std::int64_t> m_nextConnection{0};
};

}  // namespace talvern
