#include "eventcenter/HttpEventCenter.h"

#include <exception>

#include "eventcenter/EventsJson.h"
#include "log/Check.h"
#include "log/Log.h"
#include "portal/Json.h"
#include "portal/PortalMessages.h"
#include "support/Timer.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern {

namespace {

bool isLogout(const std::string& topic) { return topic == "statusEvent|logout" || topic == "logout"; }

void finish(IResponse* response, const std::string& body) {
    try {
        response->send(body.c_str(), true);
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("{}; Reason: {}", "answer long poll failed", e.what());
    }
}

}  // namespace

HttpEventCenter::HttpEventCenter(utilities::Timer& timer, std::chrono::milliseconds defaultTimeout)
    : m_defaultTimeout(defaultTimeout), m_timer(timer) {}

HttpEventCenter::~HttpEventCenter() {
    const std::string reply = timeoutReply();
    for (const auto& connection : m_connectionManager.takeAll()) {
        m_timer.cancel(connection.timerId);
        finish(connection.response, reply);
    }
}

void HttpEventCenter::handleLongPoll(IRequest* request, IResponse* response) {
    OKV_ENSURE_OR_RETURN(request && response, "request or response cann't be null pointer");
    std::weak_ptr<HttpEventCenter> weak = weak_from_this();
    portal::event_req::EventReq query;
    // A body that is not JSON or has no "data" leaves fromId and timeout at 0: the poll is parked.
    portal::from_json(request->content() != nullptr ? request->content() : "", query);
    const std::int64_t number = m_nextConnection.fetch_add(1);
    std::vector<std::shared_ptr<details::Event>> stored;
    {
        // Looking at the store and parking are one step, as storing and taking the parked polls are for a
        // broadcast: a poll either finds an event or is parked before it is stored.
        std::lock_guard<std::mutex> lock(m_parkingMutex);
        if (query.data.fromId != 0) {
            stored = m_eventManager.since(query.data.fromId);
        }
        if (stored.empty()) {
            m_connectionManager.add(number, PendingConnection{request, response, 0});
        }
    }
    if (!stored.empty()) {
        dispatch(request, response, stored);
        return;
    }
    const std::int64_t delay = query.data.timeout != 0 ? query.data.timeout : m_defaultTimeout.count();
    const std::uint32_t timerId = m_timer.add(
        [weak, number](utilities::Timer&, std::uint32_t) {
            if (auto center = weak.lock()) {
                center->onTimeout(number);
            }
        },
        delay);
    m_connectionManager.setTimer(number, timerId);
}

void HttpEventCenter::onTimeout(std::int64_t number) {
    if (auto connection = m_connectionManager.take(number)) {
        finish(connection->response, timeoutReply());
    }
}

std::shared_ptr<details::Event> HttpEventCenter::broadcast(const std::string& topic,
                                                           const std::string& content) {
    std::shared_ptr<details::Event> event;
    std::vector<PendingConnection> parked;
    {
        std::lock_guard<std::mutex> lock(m_parkingMutex);
        if (isLogout(topic)) {
            OKV_LOG_INFO("Receiving logout events, all HTTP events will be cleared");
            event = m_eventManager.clearAndAdd(topic, content);
        } else {
            event = m_eventManager.add(topic, content);
        }
        parked = m_connectionManager.takeAll();
    }
    if (!parked.empty()) {
        const std::string text = eventsReply({event});  // the same text for every parked poll
        for (const auto& connection : parked) {
            m_timer.cancel(connection.timerId);
            reply(connection.request, connection.response, text);
        }
    }
    return event;
}

void HttpEventCenter::dispatch(IRequest* request, IResponse* response,
                               const std::vector<std::shared_ptr<details::Event>>& events) {
    OKV_ENSURE_OR_RETURN(request && response, "request or response cann't be null pointer");
    reply(request, response, eventsReply(events));
}

void HttpEventCenter::reply(IRequest* request, IResponse* response, const std::string& text) {
    if (request == nullptr || response == nullptr) {
        return;
    }
    OKV_LOG_INFO("http events response");
    finish(response, text);
}

std::string HttpEventCenter::eventsReply(const std::vector<std::shared_ptr<details::Event>>& events) {
    rapidjson::StringBuffer buffer;
    eventcenter::JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("code");
    writer.Int(0);
    writer.Key("message");
    writer.String("OK");
    eventcenter::writeEventsData(writer, events);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string HttpEventCenter::timeoutReply() const {
    portal::event_resp::EventResp reply;
    reply.code = 0;
    reply.message = "OK";
    const auto newest = m_eventManager.newest();
    reply.data.id = newest ? newest->id + 1 : 0;
    return portal::to_json(reply);
}

}  // namespace talvern
