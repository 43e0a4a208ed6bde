#include "http/tls/DeviceKey.h"

#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Paths.h"
#include "support/ReadFile.h"

namespace talvern {

namespace {

constexpr std::size_t kKeyLength = 16;

/// The machine id, or empty when none can be read.
std::string machineId() {
    std::vector<std::string> candidates;
    if (std::string configured = platform::environment("OKAVEL_MACHINE_ID_FILE"); !configured.empty()) {
        candidates.push_back(configured);
    } else {
        candidates = {"/etc/machine-id", "/var/lib/dbus/machine-id"};
    }
    for (const auto& path : candidates) {
        std::string content;
        std::error_code ec;
        if (!utilities::readWholeFile(path, content, ec)) {
            continue;
        }
        content.erase(content.find_last_not_of(" \t\r\n") + 1);
        if (!content.empty()) {
            return content;
        }
    }
    return {};
}

}  // namespace

int getUniqueKey(char* buffer, std::size_t size, int kind) {
    if (buffer == nullptr || size < kKeyLength) {
        return kUniqueKeyBadBuffer;
    }
    const std::string id = machineId();
    if (id.empty()) {
        return kUniqueKeyNoMachineId;
    }
    const std::string input = "okavel-device-key:" + std::to_string(kind) + ":" + id;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &digestLength, EVP_sha256(), nullptr) != 1 ||
        digestLength * 2 < kKeyLength) {
        return kUniqueKeyNoDigest;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < kKeyLength; ++i) {
        const unsigned char byte = digest[i / 2];
        buffer[i] = kDigits[i % 2 == 0 ? byte >> 4 : byte & 0x0F];
    }
    if (size > kKeyLength) {
        buffer[kKeyLength] = '\0';
    }
    return kUniqueKeyOk;
}

}  // namespace talvern
