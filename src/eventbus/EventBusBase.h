#pragma once

#include <functional>
#include <string>

#include "talvern/IEventBus.h"

namespace talvern {

/// The agent's in-process face of the event bus, whichever side hosts it: the agent starts and stops it,
/// installs the one local receiver of every event, and raises events on it.
class EventBusBase : public IEventBus {
public:
    using EventHandler = std::function<bool(const char* topic, const char* content)>;

    ~EventBusBase() override = default;

    /// Starts the bus's threads; true when it runs.
    virtual bool start() = 0;
    /// Stops the bus's threads and joins them.
    virtual void stop() = 0;
    /// Installs (or replaces) the local receiver of every event; an empty handler is a programming error.
    virtual bool setEventHandler(const EventHandler& handler) = 0;
    /// Raises one event; true when the bus accepted it.
    virtual bool broadcast(const std::string& topic, const std::string& content) = 0;

    /// Copies both texts (a null pointer counts as an empty text) and raises the event.
    bool broadcast(const char* topic, const char* content) override;
};

}  // namespace talvern
