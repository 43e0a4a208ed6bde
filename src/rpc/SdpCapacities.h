#pragma once

#include <string>
#include <vector>

namespace talvern {

/// The capacities document: the agent's own description, with the capacity objects of the loaded modules
/// under "dependency" once `updateSubCapacities` found any valid one.
class SdpCapacities {
public:
    SdpCapacities();
    virtual ~SdpCapacities() = default;

    /// Rebuilds the document from the agent's description and the modules' capacity texts: every text that
    /// is a JSON object with "name" and "version" is copied whole into "dependency", in order; the others
    /// are logged and left out.
    void updateSubCapacities(const std::vector<std::string>& moduleCapacities);

    /// The document, compact JSON.
    const std::string& text() const { return m_text; }

    /// The agent's own description as a JSON text (filled once per process).
    static const std::string& agentDescription();

private:
    std::string m_text;
};

}  // namespace talvern
