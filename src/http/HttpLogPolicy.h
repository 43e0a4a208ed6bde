#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace talvern {

/// The process-wide request log: which URLs log their arrival quietly, which are never recorded, which
/// only when their answer changes, and how bodies are masked before they reach the log.
class HttpLogPolicy {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    static HttpLogPolicy& instance();

    /// Arrival of these URLs is logged at debug level instead of info level.
    static bool isDebugUrl(const std::string& url);
    /// These URLs are never recorded.
    static bool isIgnoredUrl(const std::string& url);
    /// These URLs are recorded only when their answer differs from the last one recorded.
    static bool isRecordedOnChangeUrl(const std::string& url);
    /// True when a record of this URL would reach the log at its level now (the record is not worth
    /// building otherwise).
    static bool wouldRecord(const std::string& url);

    /// Records one exchange and writes it to the log; returns the record (a JSON text with "reqTime",
    /// "resTime", "costTime", "reqBody" and "resBody"), or an empty text when the policy skips it.
    std::string record(const std::string& url, TimePoint requestTime, TimePoint responseTime,
                       std::chrono::milliseconds cost, const std::string& requestBody,
                       const std::string& responseBody);

    /// The body as it may be logged: empty when empty or over 8 MiB; in JSON every string of a
    /// sensitive member (and of arrays held by one) is "****", except inside an "appInfo" object.
    static std::string maskBody(const std::string& body);

    /// Forgets the last answers (tests).
    void reset();

private:
    HttpLogPolicy() = default;

    std::mutex m_mutex;                                                       // guards the last answers
    std::map<std::string, std::pair<std::string, TimePoint>> m_lastResponse;  // url -> answer, time
};

}  // namespace talvern
