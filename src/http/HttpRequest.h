#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "http/HttpOrigin.h"
#include "talvern/IRequest.h"

namespace talvern {

/// One HTTP request: a copy of what the handlers need from the engine's message, the trace id and
/// the trust marks. Built on the loop thread; the WebSocket connection classes derive from it.
class HttpRequest : public IRequest {
public:
    /// Both must be non-null; the message and connection are borrowed for the dispatch only.
    HttpRequest(engine::http_message* message, engine::mg_connection* connection);
    ~HttpRequest() override = default;

    std::int32_t tag() const override { return m_tag; }
    void setTag(int tag) override { m_tag = tag; }
    const char* content() const override { return m_content.c_str(); }
    void setContent(const char* content) override { m_content = content != nullptr ? content : ""; }
    const char* method() const override { return m_method.c_str(); }
    const char* url() const override;
    std::map<std::string, std::string> headers() const override { return m_headers; }
    const char* header(const char* name) const override;
    void toString(std::string& out) const override;
    const char* traceId() const override { return m_traceId.c_str(); }
    std::int32_t kind() const override { return m_kind; }
    IOrigin* origin() const override { return m_origin.get(); }
    std::uint16_t remotePort() const override;

    /// Takes the trace id from the body's "sdpTraceId" member; false when there is no valid one.
    bool initTraceIdFromContent();

    /// The peer as "address:port".
    const std::string& peerAddress() const { return m_peerAddress; }
    /// The engine connection (borrowed; valid during dispatch).
    engine::mg_connection* connection() const { return m_connection; }

    /// 8 characters from "0123456789abcdef".
    static std::string generateTraceId();
    /// True for exactly 8 characters of 0-9 and a-f.
    static bool isValidTraceId(const std::string& id);

protected:
    std::int32_t m_tag = 0;
    engine::http_message* m_httpMessage = nullptr;
    engine::mg_connection* m_connection = nullptr;
    std::int32_t m_kind = 0;
    std::shared_ptr<HttpOrigin> m_origin;
    std::string m_content;
    std::string m_reserved;
    std::string m_method;
    std::string m_queryString;
    std::string m_traceId;
    std::string m_peerAddress;
    std::map<std::string, std::string> m_headers;
};

}  // namespace talvern
