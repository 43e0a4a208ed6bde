#pragma once

// The event center's replies as a client reads them, and the long polls that ask for them.

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

namespace talvern::test {

/// A reply or notification read back: data.id and the "event" member of each event content.
struct ParsedReply {
    std::int64_t id = -1;
    std::vector<std::string> events;  ///< each content's "event" member
};

inline ParsedReply parseReply(const std::string& text) {
    ParsedReply reply;
    rapidjson::Document document;
    document.Parse(text.c_str());
    if (document.HasParseError() || !document.IsObject() || !document.HasMember("data")) {
        return reply;
    }
    const auto& data = document["data"];
    reply.id = data["id"].GetInt64();
    if (data.HasMember("events")) {
        for (const auto& event : data["events"].GetArray()) {
            reply.events.emplace_back(
                event.IsObject() && event.HasMember("event") ? event["event"].GetString() : "?");
        }
    }
    return reply;
}

/// The body of a long poll for events from `fromId`, waiting at most `timeout` milliseconds.
inline std::string pollBody(std::int64_t fromId, std::int64_t timeout) {
    return R"({"type":"web","lang":"en-US","guid":"g","addr":"https://localhost","token":"t","data":{"fromId":)" +
           std::to_string(fromId) + R"(,"timeout":)" + std::to_string(timeout) + "}}";
}

inline std::string eventContent(const std::string& name) { return "{\"event\":\"" + name + "\"}"; }

}  // namespace talvern::test
