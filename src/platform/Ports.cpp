#include "platform/Ports.h"

#include <charconv>

#include "platform/Paths.h"

namespace talvern::platform {
namespace {

struct OffsetReading {
    std::uint16_t offset = 0;
    std::error_code ec;
};

const OffsetReading& reading() {
    // The environment is the process's own configuration: it is read once, before any server starts.
    static const OffsetReading value = [] {
        OffsetReading r;
        parsePortOffset(environment(kPortOffsetVariable), r.offset, r.ec);
        return r;
    }();
    return value;
}

}  // namespace

bool parsePortOffset(const std::string& text, std::uint16_t& offset, std::error_code& ec) {
    ec.clear();
    offset = 0;
    if (text.empty()) {
        return true;
    }
    unsigned value = 0;
    auto [end, result] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result != std::errc() || end != text.data() + text.size() || value > kMaxPortOffset) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    offset = static_cast<std::uint16_t>(value);
    return true;
}

std::uint16_t portOffset(std::error_code& ec) {
    ec = reading().ec;
    return reading().offset;
}

std::uint16_t fixedPort(std::uint16_t port) { return static_cast<std::uint16_t>(port + reading().offset); }

}  // namespace talvern::platform
