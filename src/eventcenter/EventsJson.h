#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <memory>
#include <vector>

#include "eventcenter/EventManager.h"

namespace talvern::eventcenter {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

/// Writes the "data" member that long polls and socket notifications both carry: the events' own JSON in
/// the order given, and as "id" the one a client asks for next (one past the largest id delivered).
void writeEventsData(JsonWriter& writer, const std::vector<std::shared_ptr<details::Event>>& events);

}  // namespace talvern::eventcenter
