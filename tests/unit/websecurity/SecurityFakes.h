#pragma once

// Requests, origins and responses for the security chain: headers as a client sends them, the trust
// marks kept, and what the chain answered.

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "talvern/IOrigin.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern::test {

class FakeHttpOrigin : public IHttpOrigin {
public:
    explicit FakeHttpOrigin(std::string path, std::string hostPort = "127.0.0.1:54630")
        : m_path(std::move(path)), m_hostPort(std::move(hostPort)) {}
    virtual ~FakeHttpOrigin() = default;
    int type() const override { return 0; }
    const char* address() const override { return "127.0.0.1"; }
    std::uint16_t port() const override { return 0; }
    const char* hostPort() const override { return m_hostPort.c_str(); }
    const char* path() const override { return m_path.c_str(); }

private:
    std::string m_path;
    std::string m_hostPort;
};

/// An origin of another kind than HTTP.
class FakeOtherOrigin : public IOrigin {
public:
    virtual ~FakeOtherOrigin() = default;
    int type() const override { return 1; }
    const char* address() const override { return ""; }
    std::uint16_t port() const override { return 0; }
    const char* hostPort() const override { return ""; }
    const char* path() const override { return "/"; }
};

class SecRequest : public IRequest {
public:
    SecRequest(std::string path, std::map<std::string, std::string> headers = {})
        : m_origin(path), m_path(std::move(path)), m_headers(std::move(headers)) {}

    std::int32_t tag() const override { return m_tag; }
    void setTag(int tag) override { m_tag = tag; }
    const char* content() const override { return ""; }
    void setContent(const char*) override {}
    const char* method() const override { return "POST"; }
    const char* url() const override { return m_path.c_str(); }
    std::map<std::string, std::string> headers() const override { return m_headers; }
    const char* header(const char* name) const override {
        auto found = m_headers.find(name);
        if (found == m_headers.end() && std::string(name) == "Referer") {
            found = m_headers.find("Origin");
        }
        return found != m_headers.end() ? found->second.c_str() : nullptr;
    }
    void toString(std::string&) const override {}
    const char* traceId() const override { return "0badcafe"; }
    std::int32_t kind() const override { return 0; }
    IOrigin* origin() const override {
        return m_otherOrigin ? static_cast<IOrigin*>(&m_other) : static_cast<IOrigin*>(&m_origin);
    }
    std::uint16_t remotePort() const override { return 0; }

    void useOtherOrigin() { m_otherOrigin = true; }

private:
    mutable FakeHttpOrigin m_origin;
    mutable FakeOtherOrigin m_other;
    bool m_otherOrigin = false;
    std::string m_path;
    std::map<std::string, std::string> m_headers;
    std::atomic<int> m_tag{0};
};

class SecResponse : public IResponse {
public:
    void setStatus(int code) override { status = code; }
    void setHeader(const char*, const char*) override {}
    void send(const char* text, bool finish) override {
        body = text;
        finished = finish;
        ++sends;
    }
    void next(bool) override {}

    int status = 200;
    std::string body;
    bool finished = false;
    int sends = 0;
};

}  // namespace talvern::test
