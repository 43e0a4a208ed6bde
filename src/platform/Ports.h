#pragma once

#include <cstdint>
#include <string>
#include <system_error>

// The agent's fixed ports (web servers, buses, the bus client's fall-back) all move together by one
// offset, so that a second agent (a test's, a benchmark's) can run beside an installed one.
namespace talvern::platform {

/// The environment variable that holds the offset (decimal, 0 when unset).
inline constexpr const char* kPortOffsetVariable = "OKAVEL_PORT_OFFSET";

/// The largest offset: it keeps the highest fixed candidate (58630 + 7 * 11) inside 65535.
inline constexpr std::uint16_t kMaxPortOffset = 65535 - 58707;

/// Reads an offset text: decimal digits, at most kMaxPortOffset; empty means 0.
bool parsePortOffset(const std::string& text, std::uint16_t& offset, std::error_code& ec);

/// The offset of this process, read once from the environment. A value that does not parse counts as 0
/// and is reported through ec (the caller logs it).
std::uint16_t portOffset(std::error_code& ec);

/// A fixed port of the agent moved by this process's offset.
std::uint16_t fixedPort(std::uint16_t port);

}  // namespace talvern::platform
