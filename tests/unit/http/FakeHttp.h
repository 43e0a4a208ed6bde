#pragma once

// Plain request and response objects for tests of code that only sees the interfaces.

#include <mutex>
#include <string>
#include <vector>

#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern::test {

class FakeRequest : public IRequest {
public:
    FakeRequest(std::string method, std::string url, std::string content = {}, bool* destroyed = nullptr)
        : m_method(std::move(method)),
          m_url(std::move(url)),
          m_content(std::move(content)),
          m_destroyed(destroyed) {}
    ~FakeRequest() override {
        if (m_destroyed != nullptr) {
            *m_destroyed = true;
        }
    }
    std::int32_t tag() const override { return 0; }
    void setTag(int) override {}
    const char* content() const override { return m_content.c_str(); }
    void setContent(const char* content) override { m_content = content; }
    const char* method() const override { return m_method.c_str(); }
    const char* url() const override { return m_url.c_str(); }
    std::map<std::string, std::string> headers() const override { return {}; }
    const char* header(const char*) const override { return nullptr; }
    void toString(std::string&) const override {}
    const char* traceId() const override { return "00000000"; }
    std::int32_t kind() const override { return 0; }
    IOrigin* origin() const override { return nullptr; }
    std::uint16_t remotePort() const override { return 0; }

private:
    std::string m_method;
    std::string m_url;
    std::string m_content;
    bool* m_destroyed;
};

/// Keeps the status, the last body, and every body sent with how many finished the reply (a long poll
/// must be answered exactly once); sends may come from any thread.
class FakeResponse : public IResponse {
public:
    void setStatus(int code) override { status = code; }
    void setHeader(const char*, const char*) override {}
    void send(const char* text, bool finish) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        body = text;
        m_bodies.emplace_back(text);
        m_finished += finish ? 1 : 0;
    }
    void next(bool) override {}

    std::vector<std::string> bodies() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bodies;
    }
    int finished() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_finished;
    }

    int status = 200;
    std::string body;

private:
    mutable std::mutex m_mutex;  // guards the bodies and the count
    std::vector<std::string> m_bodies;
    int m_finished = 0;
};

}  // namespace talvern::test
