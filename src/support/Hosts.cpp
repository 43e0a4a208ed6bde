#include "support/Hosts.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "log/Log.h"
#include "platform/Paths.h"
#include "support/Timer.h"

namespace talvern {
namespace {

const char* const kIpv4Pattern =
    R"((((2(5[0-5]|[0-4]\d))|[0-1]?\d{1,2})(\.((2(5[0-5]|[0-4]\d))|[0-1]?\d{1,2})){3}))";
constexpr std::size_t kMaxLineSize = 1024;
constexpr int kMaxRecords = 100;
constexpr int kMaxFailures = 10;
constexpr std::int64_t kRetryDelayMs = 5;

std::atomic<int> g_failures{0};

// An address in a comparable form; false when the text is not an IPv4 or IPv6 address.
bool parseAddress(const std::string& text, std::string& binary) {
    unsigned char buffer[16];
    if (::inet_pton(AF_INET, text.c_str(), buffer) == 1) {
        binary.assign(reinterpret_cast<char*>(buffer), 4);
        return true;
    }
    if (::inet_pton(AF_INET6, text.c_str(), buffer) == 1) {
        binary.assign(reinterpret_cast<char*>(buffer), 16);
        return true;
    }
    return false;
}

// Full stops are the only characters of a host name that mean something else in a pattern.
std::string domainPattern(const std::string& domain) {
    std::string pattern;
    for (char c : domain) {
        if (c == '.') {
            pattern += "\\.";
        } else {
            pattern += c;
        }
    }
    return pattern;
}

bool readAll(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

}  // namespace

bool Hosts::addHost(const std::string& ip, const std::string& domain) {
    OKV_LOG_INFO("Start trying to add ip:{} and domain:{} to system hosts file...", ip, domain);
    std::string wanted;
    if (!parseAddress(ip, wanted)) {
        OKV_LOG_ERROR("Fail to create boost::asio::ip from ip:{}; Reason: {}", ip, "not an IP address");
        return false;
    }
    const std::string path = platform::hostsFilePath();
    try {
        std::regex domainExpression;
        std::regex lineExpression;
        try {
            const std::string domainText = domainPattern(domain);
            domainExpression = std::regex(domainText);
            lineExpression = std::regex(std::string(R"(((\s*)|(\s*#+.*?)))") + kIpv4Pattern + R"(\s+)" +
                                        domainText + R"(((\s*)|(#.*?)|(\s+.*?)))");
        } catch (const std::regex_error& e) {
            OKV_LOG_ERROR("Fail to generate regex from ip:{} and domain:{}; Reason: {}", ip, domain,
                          e.what());
            return false;
        }
        std::string text;
        readAll(path, text);  // a missing file is one without our line
        int examined = 0;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), domainExpression);
             it != std::sregex_iterator(); ++it) {
            if (examined++ >= kMaxRecords) {
                OKV_LOG_WARN(
                    "There are already 100 record of domain:{} in hosts file, but no one work as our "
                    "ip:{}... "
                    "Stop add.{}",
                    domain, ip, "");
                return false;
            }
            const std::size_t at = static_cast<std::size_t>(it->position());
            const std::size_t before = text.find_last_of("\r\n", at);
            const std::size_t begin = before == std::string::npos ? 0 : before + 1;
            const std::size_t after = text.find_first_of("\r\n", at);
            const std::size_t end = after == std::string::npos ? text.size() : after;
            const std::string line = text.substr(begin, end - begin);
            if (line.size() >= kMaxLineSize) {
                OKV_LOG_WARN("Detet a line has size:{}, ignore it...{}", line.size(), "");
                continue;
            }
            std::smatch match;
            if (!std::regex_match(line, match, lineExpression)) {
                continue;
            }
            if (match[3].matched) {
                OKV_LOG_ERROR("Detect a line:'{}' in host file, our domain config has been noted!{}", line,
                              "");
                continue;
            }
            const std::string address = match[4].str();
            std::string found;
            if (!parseAddress(address, found)) {
                OKV_LOG_ERROR("Fail to create boost::asio::ip from ip:{}; Reason: {}", address,
                              "not an IP address");
                continue;
            }
            if (found == wanted) {
                OKV_LOG_INFO("Already has ip:{} and domain:{} in system hosts file.", ip, domain);
                return true;
            }
            OKV_LOG_ERROR(
                "Detect a line:'{}' in host file, our domain has been set to another ip! May be oKavel agent "
                "cannot "
                "be connected!{}",
                line, "");
        }
        std::ofstream out(path, std::ios::app);
        if (!out) {
            OKV_LOG_ERROR("Cannot open hosts file:{} to write new host{}", path, "");
            return false;
        }
        out << "\n# This line is auto added by oKavelAgent, do not modify, or oKavelAgent may unable to "
               "work\n"
            << ip << "\t" << domain << "\n\n";
        out.close();
        if (!out) {
            OKV_LOG_ERROR("Cannot open hosts file:{} to write new host{}", path, "");
            return false;
        }
        OKV_LOG_INFO("Add ip:{} and domain:{} to system hosts file success!", ip, domain);
        return true;
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("Fail to add ip:{} and domain:{} to hosts file!; Reason: {}", ip, domain, e.what());
        return false;
    }
}

void addHostAndCallback(const std::string& ip, const std::string& domain,
                        std::function<void(bool)> callback) {
    utilities::Timer::instance().add(
        [ip, domain, callback](utilities::Timer&, std::uint32_t) {
            if (Hosts::addHost(ip, domain)) {
                if (callback) {
                    callback(true);
                }
                return;
            }
            int failures = ++g_failures;
            if (failures <= kMaxFailures) {
                OKV_LOG_ERROR("Fail to add domain:{} and ip:{} to system hosts file, try again...{}", domain,
                              ip, "");
                addHostAndCallback(ip, domain, callback);
                return;
            }
            OKV_LOG_ERROR(
                "After {} time retry, stop add.; Reason: Maybe some other program hold system hosts file "
                "continuously",
                failures);
            if (callback) {
                callback(false);
            }
        },
        kRetryDelayMs);
}

}  // namespace talvern
