#include "eventcenter/EventsJson.h"

#include <algorithm>
#include <cstdint>

namespace talvern::eventcenter {

void writeEventsData(JsonWriter& writer, const std::vector<std::shared_ptr<details::Event>>& events) {
    std::int64_t largest = 0;
    writer.Key("data");
    writer.StartObject();
    writer.Key("events");
    writer.StartArray();
    for (const auto& event : events) {
        writer.RawValue(event->content.c_str(), event->content.size(), rapidjson::kObjectType);
        largest = std::max(largest, event->id);
    }
    writer.EndArray();
    writer.Key("id");
    writer.Int64(largest + 1);
    writer.EndObject();
}

}  // namespace talvern::eventcenter
