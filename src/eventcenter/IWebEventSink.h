#pragma once

#include <string>

namespace talvern {

/// Where the controller hands the bus events that web clients may see: the event center, which keeps
/// them for long polls and pushes them to subscribed WebSockets.
class IWebEventSink {
public:
    virtual ~IWebEventSink() = default;
    /// Passes one event (topic and JSON content) to the web channels.
    virtual void broadcast(const std::string& topic, const std::string& content) = 0;
};

}  // namespace talvern
