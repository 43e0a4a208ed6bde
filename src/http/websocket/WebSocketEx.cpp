#include "http/websocket/WebSocketEx.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "http/engine/Engine.h"
#include "log/Log.h"
#include "portal/Json.h"
#include "portal/PortalMessages.h"

namespace talvern {

namespace {

constexpr const char* kTag = "HttpServer";

std::int64_t integerAt(const rapidjson::Document& document, const char* pointer) {
    const rapidjson::Value* value = rapidjson::Pointer(pointer).Get(document);
    return value != nullptr && value->IsInt64() ? value->GetInt64() : 0;
}

std::string textAt(const rapidjson::Document& document, const char* pointer) {
    const rapidjson::Value* value = rapidjson::Pointer(pointer).Get(document);
    return value != nullptr && value->IsString() ? std::string(value->GetString(), value->GetStringLength())
                                                 : std::string();
}

}  // namespace

void WebSocketEx::onMessage(const std::string& data) {
    rapidjson::Document document;
    document.Parse(data.c_str(), data.size());
    if (document.HasParseError()) {
        OKV_LOG_TAG_DEBUG(kTag,
                          "Parsing json data fails to detect its seq , the content is {}, the error is {}",
                          data, rapidjson::GetParseError_En(document.GetParseError()));
        deliver(Event::Message, data, {});
        return;
    }
    // Only messages of the versioned protocol are numbered; older clients send none.
    if (integerAt(document, "/version") >= 1) {
        const std::int64_t seq = integerAt(document, "/seq");
        bool inOrder = false;
        {
            std::lock_guard<std::mutex> lock(m_seqMutex);
            inOrder = seq == m_expectedSeq;
            ++m_expectedSeq;
        }
        if (!inOrder) {
            close(CloseFrame{1007, "The seq field is not continuous"});
            return;
        }
    }
    if (textAt(document, "/mode") == "heartbeat") {
        portal::ws_general_req::WsGeneralReq pong;
        pong.mode = "heartbeat";
        pong.type = "pong";
        pong.path = textAt(document, "/path");
        pong.sdpTraceId = textAt(document, "/sdpTraceId");
        pong.from = "HttpServer";
        sendText(portal::to_json(pong));
        return;
    }
    deliver(Event::Message, data, textAt(document, "/path"));
}

void WebSocketEx::sendFrameImmediately(engine::mg_connection* connection, int opcode,
                                       const std::string& data) {
    if (opcode != engine::WEBSOCKET_OP_TEXT) {
        WebSocket::sendFrameImmediately(connection, opcode, data);
        return;
    }
    rapidjson::Document document;
    document.Parse(data.c_str(), data.size());
    if (document.HasParseError() || !document.IsObject()) {
        OKV_LOG_TAG_DEBUG(
            kTag, "Parsing json failure cannot be added to the seq field, the content is {}, the error is {}",
            data,
            document.HasParseError() ? rapidjson::GetParseError_En(document.GetParseError())
                                     : "the root is not an object");
        WebSocket::sendFrameImmediately(connection, opcode, data);
        return;
    }
    if (document.HasMember("seq")) {
        OKV_LOG_TAG_WARN(
            kTag,
            "The original data sent by websocket contains the reservation field seq, it will be reset "
            "to the retained field.{}",
            "");
        document.EraseMember("seq");  // keeps the order of the other members
    }
    auto& allocator = document.GetAllocator();
    document.AddMember("seq", nextSendSeq(), allocator);
    if (document.HasMember("version")) {
        document.EraseMember("version");
    }
    document.AddMember("version", 1, allocator);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    WebSocket::sendFrameImmediately(connection, opcode, std::string(buffer.GetString(), buffer.GetSize()));
}

std::int32_t WebSocketEx::nextSendSeq() {
    std::lock_guard<std::mutex> lock(m_seqMutex);
    return m_sendSeq++;
}

void WebSocketEx::sendNotificationImmediately(engine::mg_connection* connection,
                                              const std::shared_ptr<const std::string>& object) {
    if (connection == nullptr || !object) {
        return;
    }
    // Anything but a non-empty object goes the way of every other text.
    if (object->size() < 3 || object->front() != '{' || object->back() != '}') {
        sendFrameImmediately(connection, engine::WEBSOCKET_OP_TEXT, *object);
        return;
    }
    connection->sendWebSocketFrameShared(engine::WEBSOCKET_OP_TEXT, object, object->size() - 1,
                                         fmt::format(",\"seq\":{},\"version\":1}}", nextSendSeq()));
}

}  // namespace talvern
