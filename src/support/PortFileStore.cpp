#include "support/PortFileStore.h"

#include <filesystem>
#include <fstream>

namespace talvern::utilities {

namespace fs = std::filesystem;

PortText parsePortText(std::string_view text, uint16_t& port) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return PortText::notDigits;
    }
    if (text.size() > 5) {
        return PortText::tooLong;
    }
    unsigned long value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value < 1 || value > 65535) {
        return PortText::outOfRange;
    }
    port = static_cast<uint16_t>(value);
    return PortText::valid;
}

PortFileStore::PortFileStore(std::string directory) : m_directory(std::move(directory)) {}

std::shared_ptr<PortFileStore> PortFileStore::instance() {
    static const auto store = std::make_shared<PortFileStore>("var/run");
    return store;
}

std::string PortFileStore::path(const std::string& name) const {
    return (fs::path(m_directory) / name).string();
}

bool PortFileStore::read(const std::string& name, uint16_t& port) const {
    std::ifstream in(path(name));
    if (!in) {
        return false;
    }
    unsigned long value = 0;
    if (in.peek() == '-' || !(in >> value) || value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

bool PortFileStore::write(const std::string& name, uint16_t port, std::error_code& ec) const {
    ec.clear();
    const fs::path file = path(name);
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path(), ec);
        if (ec) {
            return false;
        }
    }
    const bool existed = fs::exists(file, ec);
    ec.clear();
    {
        std::ofstream out(file, std::ios::out | std::ios::trunc);
        if (!out || !(out << port) || !out.flush()) {
            ec = std::make_error_code(std::errc::permission_denied);
            return false;
        }
    }
    if (!existed) {
        fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                        fs::perm_options::replace, ec);
        if (ec) {
            return false;
        }
    }
    return true;
}

}  // namespace talvern::utilities
