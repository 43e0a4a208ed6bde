#pragma once

// Requests and responses for the security chain: headers as a client sends them, the trust marks kept,
// and what the chain answered.

#include <atomic>
#include <map>
#include <string>

#include "talvern/IOrigin.h"
#include "unit/http/FakeHttp.h"

namespace talvern::test {

/// The origin of a request to the first server: an HTTP origin, or one of another kind (type 1).
class FakeHttpOrigin : public IHttpOrigin {
public:
    explicit FakeHttpOrigin(std::string path) : m_path(std::move(path)) {}
    virtual ~FakeHttpOrigin() = default;
    int type() const override { return kind; }
    const char* address() const override { return "127.0.0.1"; }
    std::uint16_t port() const override { return 0; }
    const char* hostPort() const override { return "127.0.0.1:54630"; }
    const char* path() const override { return m_path.c_str(); }

    int kind = 0;

private:
    std::string m_path;
};

class SecRequest : public FakeRequest {
public:
    SecRequest(std::string path, std::map<std::string, std::string> headers = {})
        : FakeRequest("POST", path), m_origin(path), m_headers(std::move(headers)) {}

    std::int32_t tag() const override { return m_tag; }
    void setTag(int tag) override { m_tag = tag; }
    std::map<std::string, std::string> headers() const override { return m_headers; }
    const char* header(const char* name) const override {
        auto found = m_headers.find(name);
        if (found == m_headers.end() && std::string(name) == "Referer") {
            found = m_headers.find("Origin");
        }
        return found != m_headers.end() ? found->second.c_str() : nullptr;
    }
    IOrigin* origin() const override { return &m_origin; }

    void useOtherOrigin() { m_origin.kind = 1; }

private:
    mutable FakeHttpOrigin m_origin;
    std::map<std::string, std::string> m_headers;
    std::atomic<int> m_tag{0};
};

}  // namespace talvern::test
