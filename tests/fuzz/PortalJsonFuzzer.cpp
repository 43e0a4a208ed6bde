// Feeds arbitrary text to the portal record decoder. Whatever a record accepted must be written back
// as text that reads into an equal record (the writer and the reader agree).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "portal/Json.h"
#include "portal/PortalMessages.h"

namespace {

template <typename Record>
void roundTrip(const std::string& text) {
    Record first;
    if (!talvern::portal::from_json(text, first)) {
        return;
    }
    const std::string written = talvern::portal::to_json(first);
    Record second;
    if (!talvern::portal::from_json(written, second) || talvern::portal::to_json(second) != written) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    roundTrip<talvern::portal::event_req::EventReq>(text);
    roundTrip<talvern::portal::ws_events_req::WsEventsReq>(text);
    roundTrip<talvern::common::plugins_feature::PluginsFeature>(text);
    return 0;
}
