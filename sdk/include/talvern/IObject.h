#pragma once

namespace talvern {

/// The root of every interface the agent and its plug-ins exchange.
class IObject {
public:
    /// Objects are destroyed through their root interface.
    virtual ~IObject() = default;
};

}  // namespace talvern
