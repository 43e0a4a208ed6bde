#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "eventbus/EventBusBase.h"
#include "eventbus/EventTypes.h"
#include "support/Clock.h"

namespace talvern::eventbus {
class ClientChannelManager;
class EventQueue;
class EventSchemaChecker;
class TaskQueue;
}  // namespace talvern::eventbus

namespace talvern::rpc::thrift {

/// The durations the bus waits; tests shorten them.
struct SdpBroadcastTimings {
    /// What a pull asking for a timeout below 1 ms waits for (per wait; a pull waits at most twice).
    std::chrono::milliseconds defaultPullTimeout{5000};
    /// The pause after a local handler threw, before the distribution thread goes on.
    std::chrono::milliseconds restartPause{1000};
    /// What the pulls' waits are measured on.
    std::shared_ptr<const utilities::IClock> clock = utilities::steadyClock();
};

/// The event bus hosted by this process. Other processes reach it through the RPC service
/// "SdpBroadcastService" (identify, push, long-polling pull; see SdpBroadcastService.h); the agent and its
/// modules raise events with `broadcast` and receive every event through the one local handler, which runs
/// on the bus's own distribution thread. Every accepted event gets a global id and is kept in a ring of
/// the last 256 events, from which pulls are served. Held by std::shared_ptr; every operation is
/// thread-safe. Lock order: broadcast mutex, then bus mutex, then the inner locks. After `stop`, pulls
/// answer at once instead of waiting, so that the RPC servers can close their connections promptly.
class SdpBroadcastImpl : public EventBusBase {
public:
    explicit SdpBroadcastImpl(SdpBroadcastTimings timings = {});
    ~SdpBroadcastImpl() override;
    SdpBroadcastImpl(const SdpBroadcastImpl&) = delete;
    SdpBroadcastImpl& operator=(const SdpBroadcastImpl&) = delete;

    using EventBusBase::broadcast;
    bool start() override;
    void stop() override;
    bool setEventHandler(const EventHandler& handler) override;
    bool broadcast(const std::string& topic, const std::string& content) override;

    /// Liveness probe: always true.
    bool IsRpcStatusNormal();
    /// The server channel and the id the next event will get (0 while the queue is empty).
    void identify(eventbus::BroadcastIdentify& out);
    /// The events numbered `identify.eventID` and later, waiting up to `timeout` ms (twice at most) when
    /// there are none. A caller naming another channel gets the "statusEvent|eventbus.ready" event at once.
    void pull(eventbus::BroadcastPullEvent& out, const eventbus::BroadcastIdentify& identify,
              int32_t timeout);
    /// Accepts one event: false when its channel already had an event with this id or a later one.
    bool push(eventbus::BroadcastPushEvent event);

    /// The channel of the events this process raises itself.
    const std::string& broadcastChannel() const { return m_broadcastChannel; }
    /// The channel `identify` hands out.
    const std::string& serverChannel() const { return m_serverChannel; }

private:
    void distributionLoop();
    void dispatchLocally(const std::shared_ptr<const eventbus::EventRawData>& rawData);
    void checkEvent(const std::shared_ptr<eventbus::EventRawData>& rawData);
    void fillIdentify(eventbus::BroadcastIdentify& out) const;

    const SdpBroadcastTimings m_timings;

    std::string m_broadcastChannel;
    std::atomic<int64_t> m_broadcastEventId{0};
    std::mutex m_broadcastMutex;  // makes numbering and storing one broadcast a single step

    std::mutex m_busMutex;  // guards the stop flag and pairs with the condition that wakes pulls
    std::condition_variable m_busCondition;
    bool m_stopping = false;  ///< set by stop (under the bus mutex): pulls no longer wait

    std::shared_ptr<eventbus::EventQueue> m_eventQueue;
    std::string m_serverChannel;
    std::shared_ptr<eventbus::ClientChannelManager> m_clientChannels;

    std::mutex m_handlerMutex;  // guards the handler
    std::shared_ptr<const EventHandler> m_handler;

    std::shared_ptr<eventbus::TaskQueue> m_tasks;
    std::mutex m_threadMutex;  // guards the distribution thread
    std::unique_ptr<std::thread> m_distributionThread;

    std::unique_ptr<eventbus::EventSchemaChecker> m_schemas;
};

}  // namespace talvern::rpc::thrift
