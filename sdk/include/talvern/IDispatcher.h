#pragma once

#include "talvern/SdkExport.h"

#include <cstdint>
#include <string>

namespace talvern {

/// A callback of the agent's callback handler: receives the entry's data and may fill a result.
using CallbackFunction = void (*)(const std::string& data, std::string& result);

/// One registered callback: it runs when a run's mask shares a bit with eventMask.
struct CallbackEntry {
    std::uint32_t eventMask = 0;
    CallbackFunction callback = nullptr;
    std::string name;
    std::string data;
};

/// The registration face of the agent's callback handler ("srvDispatcher").
class TALVERN_SDK_API IDispatcher {
public:
    /// Callbacks stay registered until removed.
    virtual ~IDispatcher() = default;
    /// Adds a copy of the entry; an entry without a callback is refused (false).
    virtual bool add(const CallbackEntry& entry) = 0;
    /// Removes every entry with this callback. Never call it from inside a callback.
    virtual void remove(CallbackFunction callback) = 0;
};

}  // namespace talvern
