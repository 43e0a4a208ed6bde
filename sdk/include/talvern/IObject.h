#pragma once

namespace talvern {

/// The root of every object that crosses the boundary between the agent and a plug-in.
class IObject {
public:
    /// Objects are destroyed through their root interface.
    virtual ~IObject() = default;
};

}  // namespace talvern
