#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace talvern::utilities {

/// How a port file's whole text reads when nothing but a port may be in it.
enum class PortText {
    valid,
    notDigits,   ///< empty, or anything but decimal digits (no sign, no blanks)
    tooLong,     ///< more than five digits
    outOfRange,  ///< 0, or above 65535
};

/// Reads `text` strictly as a port from 1 to 65535; `port` is set only when the text is valid. Callers
/// that look up other processes' listeners use this, so that a stray byte never turns into a port.
PortText parsePortText(std::string_view text, uint16_t& port);

/// Port files: small text files holding the decimal number of a port in use, under one directory, so that
/// other processes can find the agent's listeners. The process-wide store uses "var/run" relative to the
/// working directory (the executable's directory); tests make their own store elsewhere.
class PortFileStore {
public:
    explicit PortFileStore(std::string directory);

    /// The process-wide store over "var/run", created on first use.
    static std::shared_ptr<PortFileStore> instance();

    /// The path of the port file `name` (which may contain slashes).
    std::string path(const std::string& name) const;

    /// Reads one unsigned decimal number (1 to 65535) from the file; false when the file is missing,
    /// unreadable or holds no such number.
    bool read(const std::string& name, uint16_t& port) const;

    /// Writes the port as decimal text, creating the parent directories; a file that did not exist
    /// before gets the permissions 0744. False with the error when it cannot be written.
    bool write(const std::string& name, uint16_t port, std::error_code& ec) const;

    const std::string& directory() const { return m_directory; }

private:
    std::string m_directory;
};

}  // namespace talvern::utilities
