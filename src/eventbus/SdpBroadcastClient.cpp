#include "eventbus/SdpBroadcastClient.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <filesystem>
#include <iostream>

#include "debugoptions/SdpDebugOptions.h"
#include "eventbus/EventQueue.h"
#include "eventbus/EventText.h"
#include "eventbus/SdpRpcClient.h"
#include "eventbus/TaskQueue.h"
#include "eventbus/ThriftConvert.h"
#include "log/Check.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "platform/Ports.h"
#include "platform/ThreadSignalStack.h"
#include "rpcgen/SdpBroadcast.h"
#include "support/ErrorCategories.h"
#include "support/PortFileStore.h"
#include "support/ReadFile.h"

namespace talvern {
namespace {

using RemoteBus = SdpRpcClientImpl<rpc::thrift::SdpBroadcastClient>;
const char* const kHost = "127.0.0.1";
const char* const kServiceName = "SdpBroadcastService";

Transport configuredTransport() {
    auto options = SdpDebugOptions::shared()();
    return options ? options->thrift.transport : Transport::all;
}

}  // namespace

SdpBroadcastClient::SdpBroadcastClient() : SdpBroadcastClient(Settings{}) {}

SdpBroadcastClient::SdpBroadcastClient(Settings settings)
    : m_settings(std::move(settings)),
      m_ownChannel(boost::uuids::to_string(boost::uuids::random_generator()())),
      m_outgoing(std::make_unique<eventbus::EventQueue>()),
      m_distribution(std::make_unique<eventbus::TaskQueue>()) {
    if (!m_settings.servicePort) {
        m_settings.servicePort = &SdpBroadcastClient::getServicePort;
    }
    if (!m_settings.transport) {
        m_settings.transport = &configuredTransport;
    }
    OKV_LOG_INFO("The client event channel name is: {}", m_ownChannel);
}

SdpBroadcastClient::~SdpBroadcastClient() { stop(); }

bool SdpBroadcastClient::start() {
    OKV_LOG_INFO("start the event client");
    if (m_running) {
        OKV_LOG_WARN("The broadcast client starts the failure; Reason: the client is already running");
        return false;
    }
    m_stop = false;
    m_distribution->restart();
    m_distributionThread = platform::makeThread([this] {
        OKV_LOG_INFO("event distribution thread begins");
        while (!m_distribution->stopped()) {
            try {
                m_distribution->run();
            } catch (const std::exception& e) {
                OKV_LOG_ERROR("the event handler failed; Reason: {}", e.what());
            } catch (...) {
                OKV_LOG_ERROR("the event handler failed; Reason: unknown exception");
            }
        }
    });
    m_puller = platform::makeThread([this] { pullLoop(); });
    m_pusher = platform::makeThread([this] { pushLoop(); });
    m_running = true;
    OKV_LOG_INFO("start the event client end");
    return true;
}

void SdpBroadcastClient::stop() {
    if (!m_running) {
        return;
    }
    OKV_LOG_INFO("stop the event client");
    {
        std::lock_guard lock(m_outgoingMutex);
        m_stop = true;
    }
    m_outgoingCondition.notify_all();
    m_distribution->stop();
    for (std::thread* thread : {&m_puller, &m_pusher, &m_distributionThread}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    m_running = false;
}

bool SdpBroadcastClient::setEventHandler(const EventHandler& handler) {
    OKV_ENSURE_OR_RETURN(nullptr != handler, "eventhandler is nullptr", false);
    OKV_LOG_INFO("Register remote event processing function");
    std::lock_guard lock(m_handlerMutex);
    m_handler = handler;
    return true;
}

bool SdpBroadcastClient::broadcast(const std::string& topic, const std::string& content) {
    OKV_LOG_INFO("SdpBroadcastClient broadcast event, the topic is {}, the content is {}", topic, content);
    dispatch(topic, content);
    auto data = std::make_shared<eventbus::EventRawData>();
    data->event.body.topic = topic;
    data->event.body.content = content;
    {
        std::lock_guard lock(m_outgoingMutex);
        m_outgoing->append(std::move(data));
    }
    m_outgoingCondition.notify_all();
    return true;
}

void SdpBroadcastClient::dispatch(const std::string& topic, const std::string& content) {
    EventHandler handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_handler;
    }
    if (!handler) {
        OKV_LOG_WARN("dispatch event failure; Reason: the broadcast client does not event handler");
        return;
    }
    m_distribution->post([handler, topic, content] {
        OKV_LOG_DEBUG("dispatch event, the topic is {}, the content is {}", topic, content);
        handler(topic.c_str(), content.c_str());
    });
}

void SdpBroadcastClient::waitForRetry() {
    std::unique_lock lock(m_outgoingMutex);
    m_outgoingCondition.wait_for(lock, m_settings.retryInterval, [this] { return m_stop.load(); });
}

void SdpBroadcastClient::pullLoop() {
    OKV_LOG_INFO("the event client thread begins");
    RemoteBus connection(kServiceName, m_settings.transport);
    while (!m_stop) {
        try {
            connection.start(kHost, m_settings.servicePort(), m_settings.pipeName);
            if (connection.client() == nullptr) {
                throw std::runtime_error("the remote bus cannot be reached");
            }
            while (!m_stop) {
                rpc::thrift::BroadcastIdentify cursor;
                cursor.channelID = m_serverChannel;
                cursor.eventID = m_pulledEventId;
                rpc::thrift::BroadcastPullEvent reply;
                connection.client()->pull(reply, cursor, m_settings.pullTimeoutMs);
                if (reply.identify.channelID == m_serverChannel) {
                    if (reply.identify.eventID < m_pulledEventId) {
                        OKV_LOG_WARN(
                            "server's eventid({})  is less than the client's eventid({}); Reason: Maybe this "
                            "is a "
                            "server bug",
                            reply.identify.eventID, m_pulledEventId.load());
                    } else {
                        OKV_LOG_DEBUG("server's event id is {}, local's event id is {}",
                                      reply.identify.eventID, m_pulledEventId.load());
                    }
                } else {
                    if (m_serverChannel.empty()) {
                        OKV_LOG_INFO("Initialize the event channel '{}'", reply.identify.channelID);
                    } else {
                        OKV_LOG_INFO("change channel(eventID: {}) for pull from {} to {}",
                                     m_pulledEventId.load(), m_serverChannel, reply.identify.channelID);
                    }
                    m_serverChannel = reply.identify.channelID;
                }
                m_pulledEventId = reply.identify.eventID;
                for (const auto& received : reply.data) {
                    auto event = eventbus::fromThrift(received);
                    OKV_LOG_DEBUG("Received event: {}", eventbus::toLogText(event));
                    if (event.origin.channelID == m_ownChannel) {
                        OKV_LOG_DEBUG(
                            "Filter event from the service side and generate by this process, the event is "
                            "{}",
                            eventbus::toLogText(event));
                        continue;
                    }
                    dispatch(event.body.topic, event.body.content);
                }
            }
        } catch (const std::exception& e) {
            connection.close();
            OKV_LOG_WARN("fetch event failure, retry after 1 second; Reason: {}", e.what());
            if (!m_stop) {
                waitForRetry();
            }
        }
    }
    OKV_LOG_INFO("the event client thread end");
}

void SdpBroadcastClient::pushLoop() {
    RemoteBus connection(kServiceName, m_settings.transport);
    while (!m_stop) {
        std::vector<std::shared_ptr<const eventbus::EventRawData>> pending;
        {
            std::unique_lock lock(m_outgoingMutex);
            pending = m_outgoing->collectFrom(m_pushedEventId);
            if (pending.empty()) {
                m_outgoingCondition.wait_for(lock, std::chrono::seconds(1), [this] {
                    return m_stop.load() || !m_outgoing->collectFrom(m_pushedEventId).empty();
                });
                continue;
            }
        }
        if (pending.front()->id > m_pushedEventId) {
            OKV_LOG_WARN(
                "The event of the client cache is lost; Reason: The event id of the record is {}, but the "
                "event is "
                "actually {}",
                m_pushedEventId.load(), pending.front()->id);
            m_pushedEventId = pending.front()->id;
        }
        try {
            if (connection.client() == nullptr) {
                connection.start(kHost, m_settings.servicePort(), m_settings.pipeName);
                if (connection.client() == nullptr) {
                    throw std::runtime_error("the remote bus cannot be reached");
                }
            }
            for (const auto& data : pending) {
                eventbus::BroadcastPushEvent event;
                event.body = data->event.body;
                event.origin.channelID = m_ownChannel;
                event.origin.eventID = data->id;
                bool accepted = connection.client()->push(eventbus::toThrift(event));
                m_pushedEventId = data->id + 1;
                if (accepted) {
                    OKV_LOG_DEBUG("Push events to the server success, the event is {}",
                                  eventbus::toLogText(event));
                } else {
                    OKV_LOG_WARN(
                        "Push events to the service end failure; Reason: Maybe the event id repeats, please "
                        "check the "
                        "service side and the current client log. The current client channel is {}. the "
                        "event is {}",
                        eventbus::toLogText(event.body), eventbus::toLogText(event.origin));
                }
            }
        } catch (const std::exception& e) {
            connection.close();
            OKV_LOG_ERROR("The push failure will be retried after 1s; Reason: {}", e.what());
            if (!m_stop) {
                waitForRetry();
            }
        }
    }
}

std::uint16_t SdpBroadcastClient::servicePortFromFile(const std::string& path) {
    std::string content;
    std::error_code ec;
    utilities::readWholeFile(path, content, ec);
    std::uint16_t port = 0;
    const utilities::PortText parsed = utilities::parsePortText(content, port);
    if (parsed == utilities::PortText::valid) {
        std::cout << "rpc port file path:" << path << " port:" << port << std::endl;
        return port;
    }
    // Six digits and more count as "not digit" here: only five fit a port.
    std::cerr
        << (parsed == utilities::PortText::outOfRange
                ? "get service port failed, the port is out of range, process: oKavelAgent service:"
                : "get service port failed, content is empty or not digit, process: oKavelAgent service:")
        << "oKavelCore/thrift path:" << path << " content:" << content << std::endl;
    std::error_code reason = rpc::make_error_code(rpc::general_errc::not_found);
    OKV_LOG_WARN(
        "failed to access the okavelcore's broadcast service port, but will continue to try to connect "
        "the "
        "broadcast service use default port: {}; Reason: {}@{} --->>> {}",
        platform::fixedPort(kDefaultPort), reason.value(), reason.category().name(), reason.message());
    return platform::fixedPort(kDefaultPort);
}

std::uint16_t SdpBroadcastClient::getServicePort() {
    return servicePortFromFile(platform::executableDir() + "/var/run/plugins/oKavelCore/thrift");
}

}  // namespace talvern
