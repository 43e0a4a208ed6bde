#include "eventbus/SdpBroadcastImpl.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <optional>
#include <string_view>

#include "eventbus/ClientChannelManager.h"
#include "eventbus/EventQueue.h"
#include "eventbus/EventSchemaChecker.h"
#include "eventbus/EventText.h"
#include "eventbus/TaskQueue.h"
#include "log/Check.h"
#include "log/Log.h"
#include "platform/ThreadSignalStack.h"
#include "support/TextCase.h"

namespace talvern::rpc::thrift {

namespace {

using eventbus::BroadcastIdentify;
using eventbus::BroadcastPullEvent;
using eventbus::BroadcastPushEvent;
using eventbus::EventRawData;

constexpr const char* kReadyTopic = "statusEvent|eventbus.ready";
constexpr const char* kResourceChangedTopic = "statusEvent|resourceChanged";
constexpr const char* kSteadyTimestamp = "steadyTimestamp";

// High-rate topics that would flood the info log.
constexpr std::array<std::string_view, 4> kQuietQueueTopics = {"selectLineResult", "tunnelFlow",
                                                               "uploadFileChanged", "downloadFileChanged"};
constexpr std::array<std::string_view, 2> kQuietBroadcastTopics = {"uemApprovalEvent|uploadFileChanged",
                                                                   "uemApprovalEvent|downloadFileChanged"};

// Runs `work`; the text of what it threw, or nothing when it returned.
template <typename Work>
std::optional<std::string> failureOf(Work&& work) {
    try {
        work();
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("unknown exception");
    }
}

std::string newChannelName() { return boost::uuids::to_string(boost::uuids::random_generator()()); }

bool isQuietQueueTopic(const std::string& topic) {
    for (auto quiet : kQuietQueueTopics) {
        if (topic.find(quiet) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool isQuietBroadcastTopic(const std::string& topic) {
    for (auto quiet : kQuietBroadcastTopics) {
        if (topic == quiet) {
            return true;
        }
    }
    return false;
}

// Appends "steadyTimestamp" to a resourceChanged content; leaves the content alone (with a warning) when
// it is not a JSON object or already carries the member.
std::string addSteadyTimestamp(const std::string& content) {
    rapidjson::Document document;
    document.Parse(content.c_str(), content.size());
    if (document.HasParseError() || !document.IsObject()) {
        OKV_LOG_WARN("add steady timestamp to resourceChanged event failed; Reason: {}", content);
        return content;
    }
    if (document.HasMember(kSteadyTimestamp)) {
        OKV_LOG_WARN("add {} to resourceChanged event failed; Reason: the {} has existed. content: {}",
                     kSteadyTimestamp, kSteadyTimestamp, content);
        return content;
    }
    document.AddMember(rapidjson::StringRef(kSteadyTimestamp),
                       rapidjson::Value(static_cast<int64_t>(utilities::steadyMilliseconds())),
                       document.GetAllocator());
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

SdpBroadcastImpl::SdpBroadcastImpl(SdpBroadcastTimings timings)
    : m_timings(timings),
      m_broadcastChannel(newChannelName()),
      m_eventQueue(std::make_shared<eventbus::EventQueue>()),
      m_serverChannel(newChannelName()),
      m_clientChannels(std::make_shared<eventbus::ClientChannelManager>()),
      m_tasks(std::make_shared<eventbus::TaskQueue>()),
      m_schemas(std::make_unique<eventbus::EventSchemaChecker>()) {
    OKV_LOG_INFO("The broadcast event channel name is: {}", m_broadcastChannel);
    OKV_LOG_INFO("The server event channel name is: {}", m_serverChannel);
}

SdpBroadcastImpl::~SdpBroadcastImpl() { stop(); }

bool SdpBroadcastImpl::start() {
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_distributionThread) {
        return true;
    }
    OKV_LOG_INFO("create a local event distribution thread");
    {
        std::lock_guard<std::mutex> busLock(m_busMutex);
        m_stopping = false;
    }
    m_tasks->restart();
    m_distributionThread =
        std::make_unique<std::thread>(platform::makeThread([this] { distributionLoop(); }));
    return true;
}

void SdpBroadcastImpl::stop() {
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (!m_distributionThread) {
        return;
    }
    OKV_LOG_INFO("stop local event distribution thread");
    {
        // Waiting pulls return at once, so that the RPC servers can close their connections promptly.
        std::lock_guard<std::mutex> busLock(m_busMutex);
        m_stopping = true;
    }
    m_busCondition.notify_all();
    m_tasks->stop();
    if (m_distributionThread->joinable()) {
        m_distributionThread->join();
    }
    m_distributionThread.reset();
}

void SdpBroadcastImpl::distributionLoop() {
    OKV_LOG_INFO("local event distribution thread begins");
    while (auto failure = failureOf([this] { m_tasks->run(); })) {
        OKV_LOG_WARN(
            "the local time distribution thread is abnormal and will be restored in a second; Reason: {}",
            *failure);
        m_tasks->pauseUnlessStopped(m_timings.restartPause);
    }
    OKV_LOG_INFO("local event distribution thread end");
}

bool SdpBroadcastImpl::setEventHandler(const EventHandler& eventhandler) {
    OKV_ENSURE(nullptr != eventhandler, "eventhandler is nullptr");
    OKV_LOG_INFO("Register local event processing function");
    auto shared = std::make_shared<const EventHandler>(eventhandler);
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    m_handler = std::move(shared);
    return true;
}

bool SdpBroadcastImpl::IsRpcStatusNormal() { return true; }

void SdpBroadcastImpl::fillIdentify(BroadcastIdentify& out) const {
    out.channelID = m_serverChannel;
    auto newest = m_eventQueue->newestId();
    out.eventID = newest ? *newest + 1 : 0;
}

void SdpBroadcastImpl::identify(BroadcastIdentify& out) { fillIdentify(out); }

void SdpBroadcastImpl::dispatchLocally(const std::shared_ptr<const EventRawData>& rawData) {
    std::shared_ptr<const EventHandler> handler;
    {
        std::lock_guard<std::mutex> lock(m_handlerMutex);
        handler = m_handler;
    }
    if (!handler) {
        OKV_LOG_WARN("dispatch event failure; Reason: the broadcast client does not event handler");
        return;
    }
    // The stored copy of the event is never changed again, so the task reads it without a lock.
    m_tasks->post([handler = std::move(handler), rawData] {
        (*handler)(rawData->event.body.topic.c_str(), rawData->event.body.content.c_str());
    });
}

bool SdpBroadcastImpl::push(BroadcastPushEvent event) {
    std::unique_lock<std::mutex> lock(m_busMutex);
    if (m_clientChannels->isRepeat(event.origin.channelID, event.origin.eventID)) {
        OKV_LOG_WARN(
            "receives a repeat event from the client, it will be discarded; Reason: the event has been "
            "handled, "
            "content: {}",
            eventbus::toLogText(event));
        return false;
    }
    auto record = std::make_shared<EventRawData>();
    record->event = std::move(event);
    const BroadcastPushEvent& stored = record->event;
    dispatchLocally(record);
    OKV_LOG_DEBUG("add events to the queue, and dispatch locally, {}", eventbus::toLogText(stored));
    m_clientChannels->update(stored.origin.channelID, stored.origin.eventID);
    OKV_LOG_DEBUG("update the client event identification: {}", eventbus::toLogText(stored.origin));

    auto rawData = m_eventQueue->append(record);
    OKV_ENSURE(rawData != nullptr, "The original event content added to the event queue cannot be null");
    if (!isQuietQueueTopic(stored.body.topic)) {
        OKV_LOG_INFO("Add events to event queues, the global event id is {}, event data is: {}", rawData->id,
                     eventbus::toLogText(stored));
    }
    checkEvent(rawData);
    m_busCondition.notify_all();
    return true;
}

void SdpBroadcastImpl::checkEvent(const std::shared_ptr<EventRawData>& rawData) {
    if (!rawData) {
        OKV_LOG_WARN("The event's original data pointer is empty and no format check{}", "");
        return;
    }
    if (auto failure = failureOf([&] { m_schemas->check("event", rawData->event.body.content); })) {
        OKV_LOG_WARN(
            "Check the event format failure, the global event id is {}, the origin conent is: {}; Reason: {}",
            rawData->id, eventbus::toLogText(rawData->event), *failure);
    }
}

void SdpBroadcastImpl::pull(BroadcastPullEvent& out, const BroadcastIdentify& identify, int32_t timeout) {
    std::unique_lock<std::mutex> lock(m_busMutex);
    const auto wait = timeout < 1 ? m_timings.defaultPullTimeout : std::chrono::milliseconds(timeout);

    if (!utilities::equalsNoCase(identify.channelID, m_serverChannel)) {
        fillIdentify(out.identify);
        BroadcastPushEvent ready;
        ready.body.topic = kReadyTopic;
        ready.body.content = R"({"event": "eventbus.ready", "steadyTimestamp": )" +
                             std::to_string(utilities::steadyMilliseconds()) + "}";
        ready.origin.channelID = m_serverChannel;
        ready.origin.eventID = 0;
        out.data.push_back(std::move(ready));
        OKV_LOG_INFO("The client event id is inconsistent and returns channel identify {}",
                     eventbus::toLogText(out.identify));
        return;
    }

    out.identify.channelID = m_serverChannel;
    bool timedOut = false;
    for (int round = 0; round < 2 && !timedOut; ++round) {
        auto events = m_eventQueue->collectFrom(identify.eventID);
        if (!events.empty()) {
            for (const auto& entry : events) {
                OKV_LOG_DEBUG("Return pull event, the event is {}", eventbus::toLogText(entry->event));
                out.identify.eventID = entry->id + 1;
                out.data.push_back(entry->event);
            }
            if (identify.eventID != 0 && events.front()->id > identify.eventID) {
                OKV_LOG_WARN(
                    "The event of the service cache is lost for eventchannel {}; Reason: The event id({}) of "
                    "the "
                    "request is less than the return of the event id{}",
                    identify.channelID, identify.eventID, events.front()->id);
            }
            return;
        }
        if (m_stopping) {
            break;  // shutting down: answer now instead of holding the connection
        }
        timedOut = m_timings.clock->waitUntil(m_busCondition, lock, m_timings.clock->now() + wait);
    }

    auto newest = m_eventQueue->newestId();
    if (!newest) {
        out.identify.eventID = 0;
    } else {
        const int64_t next = *newest + 1;
        out.identify.eventID = identify.eventID <= next ? identify.eventID : next;
    }
    if (identify.eventID > out.identify.eventID) {
        OKV_LOG_WARN(
            "The eventid'{}' exception on the client'{}' has been adjusted to the latest service "
            "eventid'{}'; "
            "Reason: New events generated by event servers cannot be notified to the client",
            identify.eventID, identify.channelID, out.identify.eventID);
    }
}

bool SdpBroadcastImpl::broadcast(const std::string& topic, const std::string& content) {
    if (!isQuietBroadcastTopic(topic)) {
        OKV_LOG_INFO("SdpBroadcastImpl broadcast event, topic is: {}, content is: {}", topic, content);
    }
    std::lock_guard<std::mutex> lock(m_broadcastMutex);
    BroadcastPushEvent event;
    event.body.topic = topic;
    event.body.content = topic == kResourceChangedTopic ? addSteadyTimestamp(content) : content;
    event.origin.channelID = m_broadcastChannel;
    event.origin.eventID = m_broadcastEventId.fetch_add(1);
    return push(std::move(event));
}

}  // namespace talvern::rpc::thrift
