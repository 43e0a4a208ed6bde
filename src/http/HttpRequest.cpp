#include "http/HttpRequest.h"

#include <rapidjson/document.h>

#include <ctime>
#include <mutex>
#include <random>

#include "http/HttpStatus.h"
#include "http/SmallJson.h"
#include "http/engine/Engine.h"
#include "log/Check.h"
#include "log/Log.h"

namespace talvern {

HttpRequest::HttpRequest(engine::http_message* message, engine::mg_connection* nc)
    : m_httpMessage(message), m_connection(nc) {
    OKV_ENSURE_OR_RETURN(message && nc, "message or nc cann't be null pointer");
    m_origin = std::make_shared<HttpOrigin>(message, nc);
    if (m_httpMessage->body.p != nullptr) {
        m_content.assign(m_httpMessage->body.p, m_httpMessage->body.len);
    }
    if (m_httpMessage->method.p != nullptr) {
        m_method.assign(m_httpMessage->method.p, m_httpMessage->method.len);
    }
    if (m_httpMessage->query_string.p != nullptr) {
        m_queryString.assign(m_httpMessage->query_string.p, m_httpMessage->query_string.len);
    }
    for (int i = 0; i < engine::MG_MAX_HTTP_HEADERS; ++i) {
        if (m_httpMessage->header_names[i].p == nullptr) {
            OKV_ENSURE(m_httpMessage->header_names[i].len == 0, "nullptr so len == 0");
        } else {
            OKV_ENSURE(m_httpMessage->header_names[i].len != 0, "not nullptr so len != 0");
        }
        if (m_httpMessage->header_values[i].p == nullptr) {
            OKV_ENSURE(m_httpMessage->header_values[i].len == 0, "nullptr so len == 0");
        } else {
            OKV_ENSURE(m_httpMessage->header_values[i].len != 0, "not nullptr so len != 0");
        }
        if (m_httpMessage->header_names[i].p != nullptr && m_httpMessage->header_values[i].p != nullptr) {
            // emplace keeps the first value of a repeated name
            m_headers.emplace(std::string(m_httpMessage->header_names[i].view()),
                              std::string(m_httpMessage->header_values[i].view()));
        }
    }
    m_peerAddress = nc->peerAddress().substr(0, 511);
    if (!initTraceIdFromContent()) {
        m_traceId = generateTraceId();
        m_headers.emplace(http::headerName(http::HeaderName::TraceId), m_traceId);
    }
}

const char* HttpRequest::url() const { return m_origin ? m_origin->path() : ""; }

std::uint16_t HttpRequest::remotePort() const { return m_origin ? m_origin->remotePort() : 0; }

const char* HttpRequest::header(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    if (auto it = m_headers.find(name); it != m_headers.end()) {
        return it->second.c_str();
    }
    if (std::string_view(name) == "Referer") {
        if (auto it = m_headers.find("Origin"); it != m_headers.end()) {
            return it->second.c_str();
        }
    }
    return nullptr;
}

void HttpRequest::toString(std::string& out) const {
    out = m_reserved + " " + m_method + "\n";
    out += "headers:\n";
    for (const auto& [name, value] : m_headers) {
        out += "key:" + name + " value:" + value + "\n";
    }
    out += "query:\n" + m_queryString;
    out += "body:\n" + m_content;
}

bool HttpRequest::initTraceIdFromContent() {
    if (m_content.empty()) {
        OKV_LOG_TAG_DEBUG("HttpServer", "recv m_content is empty, initTraceIdFromContent return false");
        return false;
    }
    http::SmallJson json;
    auto& document = json.document();
    document.Parse(m_content.c_str(), m_content.size());
    if (document.HasParseError()) {
        OKV_LOG_TAG_DEBUG("HttpServer", "m_content json parse failed, initTraceIdFromContent return false");
        return false;
    }
    if (document.IsObject()) {
        const auto member = document.FindMember("sdpTraceId");
        if (member != document.MemberEnd() && member->value.IsString()) {
            std::string id(member->value.GetString(), member->value.GetStringLength());
            if (isValidTraceId(id)) {
                m_traceId = std::move(id);
                return true;
            }
        }
    }
    OKV_LOG_TAG_DEBUG(
        "HttpServer",
        "the traceid form m_content is invalid or no node of sdpTraceId, initTraceIdFromContent "
        "return false");
    return false;
}

bool HttpRequest::isValidTraceId(const std::string& id) {
    if (id.size() != 8) {
        return false;
    }
    for (char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

std::string HttpRequest::generateTraceId() {
    static constexpr char kDigits[] = "0123456789abcdef";
    // Seeded once per process with the calendar time; requests may also be built off the loop (tests,
    // WebSocket helpers), so the engine is guarded.
    static std::mt19937 engine(static_cast<std::mt19937::result_type>(std::time(nullptr)));
    static std::mutex mutex;  // guards the engine
    std::uniform_int_distribution<int> digit(0, 15);
    std::string id(8, '0');
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& c : id) {
        c = kDigits[digit(engine)];
    }
    return id;
}

}  // namespace talvern
