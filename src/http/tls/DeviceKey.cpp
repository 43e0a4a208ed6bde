#include "http/tls/DeviceKey.h"

#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "http/tls/TlsCrypto.h"
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
    const std::string key = tls::toHex(std::span<const unsigned char>(digest, kKeyLength / 2), false);
    std::memcpy(buffer, key.data(), kKeyLength);
    if (size > kKeyLength) {
        buffer[kKeyLength] = '\0';
    }
    return kUniqueKeyOk;
}

}  // namespace talvern
