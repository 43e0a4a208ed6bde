#include "http/HttpLogPolicy.h"

#include <fmt/chrono.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
#include <string_view>

#include "log/Log.h"
#include "support/TextCase.h"

namespace talvern {

namespace {

constexpr std::size_t kMaxLoggedBody = 8 * 1024 * 1024;

constexpr std::array<std::string_view, 7> kDebugUrls = {
    "/aUem/status",       "/aUem/uemInfo", "/service/status", "/service/events",
    "/v1/getServicePort", "/v1/detect",    "/base/printLog"};
constexpr std::array<std::string_view, 1> kIgnoredUrls = {"/base/printLog"};
constexpr std::array<std::string_view, 5> kOnChangeUrls = {"/aUem/status", "/aUem/uemInfo", "/service/status",
                                                           "/service/events", "/v1/getServicePort"};

// The sensitive member names are plain words, so a whole-name match is a comparison.
constexpr std::array<std::string_view, 16> kMaskedNames = {
    "tok", "passport", "cert", "pubkey", "dev_id", "deviceid", "sid",       "os_pid",
    "sn",  "address",  "sig",  "rsan",   "rsae",   "randoms",  "csrftoken", "pin"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool isMaskedName(std::string_view name) {
    const std::string lower = utilities::lowerCase(name);
    if (lower == "tok" || lower == "passport") {
        return true;
    }
    return contains(kMaskedNames, name);
}

void maskValue(rapidjson::Value& value, bool sensitive, rapidjson::Document::AllocatorType& allocator) {
    if (value.IsString()) {
        if (sensitive) {
            value.SetString("****", allocator);
        }
    } else if (value.IsArray()) {
        for (auto& element : value.GetArray()) {
            maskValue(element, sensitive, allocator);
        }
    } else if (value.IsObject()) {
        for (auto& member : value.GetObject()) {
            const std::string_view name(member.name.GetString(), member.name.GetStringLength());
            if (name == "appInfo" && member.value.IsObject()) {
                continue;
            }
            maskValue(member.value, isMaskedName(name), allocator);
        }
    }
}

std::string formatTime(HttpLogPolicy::TimePoint time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    return fmt::format("{:%Y-%m-%d %H:%M:%S}", local);
}

}  // namespace

HttpLogPolicy& HttpLogPolicy::instance() {
    static HttpLogPolicy policy;
    return policy;
}

bool HttpLogPolicy::isDebugUrl(const std::string& url) { return contains(kDebugUrls, url); }

bool HttpLogPolicy::isIgnoredUrl(const std::string& url) { return contains(kIgnoredUrls, url); }

bool HttpLogPolicy::isRecordedOnChangeUrl(const std::string& url) { return contains(kOnChangeUrls, url); }

bool HttpLogPolicy::wouldRecord(const std::string& url) {
    return !isIgnoredUrl(url) && log::shouldLog(isDebugUrl(url) ? log::Level::debug : log::Level::info);
}

std::string HttpLogPolicy::maskBody(const std::string& body) {
    if (body.empty() || body.size() > kMaxLoggedBody) {
        return {};
    }
    rapidjson::Document document;
    document.Parse(body.c_str(), body.size());
    if (document.HasParseError() || !(document.IsObject() || document.IsArray())) {
        return body;
    }
    maskValue(document, false, document.GetAllocator());
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string HttpLogPolicy::record(const std::string& url, TimePoint requestTime, TimePoint responseTime,
                                  std::chrono::milliseconds cost, const std::string& requestBody,
                                  const std::string& responseBody) {
    if (isIgnoredUrl(url)) {
        return {};
    }
    if (isRecordedOnChangeUrl(url)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& last = m_lastResponse[url];
        if (last.second != TimePoint{} && last.first == responseBody) {
            return {};
        }
        last = {responseBody, responseTime};
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("reqTime");
    writer.String(formatTime(requestTime));
    writer.Key("resTime");
    writer.String(formatTime(responseTime));
    writer.Key("costTime");
    writer.String(fmt::format("{}ms", cost.count()));
    writer.Key("reqBody");
    writer.String(maskBody(requestBody));
    writer.Key("resBody");
    writer.String(maskBody(responseBody));
    writer.EndObject();
    std::string text(buffer.GetString(), buffer.GetSize());
    if (isDebugUrl(url)) {
        OKV_LOG_TAG_DEBUG("HttpServer", "url:{} {}", url, text);
    } else {
        OKV_LOG_TAG_INFO("HttpServer", "url:{} {}", url, text);
    }
    return text;
}

void HttpLogPolicy::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastResponse.clear();
}

}  // namespace talvern
