#pragma once

#include <string>

namespace talvern::utilities {

/// The suite's local configuration file, "<shared data directory>var/conf/localConfig.json": a JSON
/// object of string members such as "lang". Read afresh on every call; failures are logged under the
/// tag "common".
class Configuration {
public:
    /// The agent's own file under the shared data directory.
    Configuration();
    /// Another file (tests, tools).
    explicit Configuration(std::string filePath);

    /// Copies the string member named by key into value. False (logged) when the file cannot be read,
    /// is not JSON, has no such top-level member or the member is not a string.
    bool readKeyVaule(const std::string& key, std::string& value) const;

    const std::string& filePath() const { return m_filePath; }

private:
    std::string m_filePath;
};

}  // namespace talvern::utilities
