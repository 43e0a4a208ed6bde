#include "platform/UiLanguage.h"

#include <systemd/sd-login.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "platform/ProcessInfo.h"

namespace talvern::platform {
namespace {

constexpr std::array<std::string_view, 3> kLocaleVariables = {"LC_ALL", "LC_MESSAGES", "LANG"};

// Owns a string that sd-login allocated.
struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using SdString = std::unique_ptr<char, FreeDeleter>;

// The first active session of class "user", else the active session of seat0; empty when none.
std::string activeSession() {
    char** sessions = nullptr;
    int count = sd_get_sessions(&sessions);
    std::string found;
    for (int i = 0; i < count && sessions != nullptr; ++i) {
        char* clazz = nullptr;
        if (found.empty() && sd_session_is_active(sessions[i]) > 0 &&
            sd_session_get_class(sessions[i], &clazz) >= 0 && clazz != nullptr &&
            std::strcmp(clazz, "user") == 0) {
            found = sessions[i];
        }
        std::free(clazz);
        std::free(sessions[i]);
    }
    std::free(sessions);
    if (!found.empty()) {
        return found;
    }
    char* session = nullptr;
    if (sd_seat_get_active("seat0", &session, nullptr) >= 0 && session != nullptr) {
        SdString owned(session);
        return owned.get();
    }
    return {};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The leader recorded by logind for the session; else the lowest process id that belongs to it.
long sessionLeader(const std::string& session) {
    std::istringstream record(readFile("/run/systemd/sessions/" + session));
    for (std::string line; std::getline(record, line);) {
        if (line.rfind("LEADER=", 0) == 0) {
            long pid = std::strtol(line.c_str() + 7, nullptr, 10);
            if (pid > 0) {
                return pid;
            }
        }
    }
    long lowest = 0;
    forEachProcessId([&](std::uint32_t pid) {
        char* owner = nullptr;
        if ((lowest == 0 || pid < lowest) && sd_pid_get_session(static_cast<pid_t>(pid), &owner) >= 0 &&
            owner != nullptr) {
            SdString owned(owner);
            if (session == owned.get()) {
                lowest = pid;
            }
        }
        return true;
    });
    return lowest;
}

std::string agentLocale() {
    for (std::string_view name : kLocaleVariables) {
        const char* value = std::getenv(std::string(name).c_str());
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

}  // namespace

std::string messagesLocale(std::string_view block) {
    std::array<std::string_view, kLocaleVariables.size()> values{};
    std::array<bool, kLocaleVariables.size()> seen{};
    while (!block.empty()) {
        std::size_t end = block.find('\0');
        std::string_view entry = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
        std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        for (std::size_t i = 0; i < kLocaleVariables.size(); ++i) {
            // The first definition wins, as getenv would see it.
            if (!seen[i] && entry.substr(0, eq) == kLocaleVariables[i]) {
                values[i] = entry.substr(eq + 1);
                seen[i] = true;
            }
        }
    }
    for (std::string_view value : values) {
        if (!value.empty()) {
            return std::string(value);
        }
    }
    return {};
}

std::string processMessagesLocale(long pid) {
    return messagesLocale(readFile("/proc/" + std::to_string(pid) + "/environ"));
}

int languageOfLocale(std::string_view locale) {
    return locale.substr(0, 2) == "zh" ? kLanguageChinese : kLanguageEnglish;
}

int userDefaultUiLanguage() {
    std::string locale;
    std::string session = activeSession();
    if (!session.empty()) {
        long leader = sessionLeader(session);
        if (leader > 0) {
            locale = processMessagesLocale(leader);
        }
    }
    if (locale.empty()) {
        locale = agentLocale();
    }
    return languageOfLocale(locale);
}

}  // namespace talvern::platform
