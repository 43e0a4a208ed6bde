#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "debugoptions/DebugRecords.h"
#include "eventbus/EventBusBase.h"

namespace talvern {

namespace eventbus {
class EventQueue;
class TaskQueue;
}  // namespace eventbus

/// The event bus in client mode: joins the bus that the core service hosts. A puller long-polls the remote
/// bus and hands what it gets to the local handler, a pusher sends this process's own events in order,
/// and a distribution thread runs the handler. Unreachable services are retried every second.
class SdpBroadcastClient : public EventBusBase {
public:
    /// Where the remote bus is and how the client waits; the defaults are the core service's.
    struct Settings {
        std::string pipeName = "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22";
        std::function<std::uint16_t()> servicePort;  ///< default: getServicePort()
        std::function<Transport()> transport;        ///< default: the debug options' thrift.transport
        std::chrono::milliseconds retryInterval{1000};
        std::int32_t pullTimeoutMs = 5000;
    };

    static constexpr std::uint16_t kDefaultPort = 56630;

    SdpBroadcastClient();
    explicit SdpBroadcastClient(Settings settings);
    ~SdpBroadcastClient() override;

    bool start() override;
    void stop() override;
    bool setEventHandler(const EventHandler& handler) override;
    bool broadcast(const std::string& topic, const std::string& content) override;
    using EventBusBase::broadcast;

    /// The TCP port of the remote bus: the core service's port file beside this executable, else 56630
    /// (moved by the port offset).
    static std::uint16_t getServicePort();
    /// The port in a port file, or the moved 56630 (with a warning) when the file is missing or wrong.
    static std::uint16_t servicePortFromFile(const std::string& path);

private:
    void dispatch(const std::string& topic, const std::string& content);
    void pullLoop();
    void pushLoop();
    void waitForRetry();

    Settings m_settings;
    std::string m_serverChannel;  // puller thread only
    std::atomic<std::int64_t> m_pulledEventId{0};
    std::string m_ownChannel;
    std::atomic<std::int64_t> m_pushedEventId{0};
    std::unique_ptr<eventbus::EventQueue> m_outgoing;
    std::mutex m_outgoingMutex;  // pairs with the condition below: the pusher sleeps on it
    std::condition_variable m_outgoingCondition;
    std::atomic<bool> m_stop{false};
    std::mutex m_handlerMutex;  // guards the handler
    EventHandler m_handler;
    std::unique_ptr<eventbus::TaskQueue> m_distribution;
    std::thread m_distributionThread;
    std::thread m_puller;
    std::thread m_pusher;
    bool m_running = false;
};

}  // namespace talvern
