#include "http/tls/CertSources.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "http/tls/BuiltinMaterial.h"
#include "http/tls/DeviceKey.h"
#include "http/tls/PemText.h"
#include "http/tls/TlsCrypto.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "support/ReadFile.h"

namespace talvern {

namespace fs = std::filesystem;

namespace {

/// The device key of the certificate file.
constexpr int kDeviceKeyKind = 3;

/// The device key as an AES key; the result of getUniqueKey.
int deviceKey(std::optional<tls::AesKey>& key) {
    std::array<char, 17> buffer{};
    const int result = getUniqueKey(buffer.data(), 16, kDeviceKeyKind);
    if (result == kUniqueKeyOk) {
        key = tls::AesKey::fromBytes(
            std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(buffer.data()), 16), 128);
    }
    return result;
}

std::string pathOr(const std::string& path) { return path.empty() ? certificateFilePath() : path; }

/// Writes `content` over `path` through a file beside it, so that a reader never sees half of it.
bool replaceFile(const std::string& path, const std::string& content, std::string& reason) {
    std::error_code ec;
    const fs::path target(path);
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            reason = ec.message();
            return false;
        }
    }
    const fs::path temporary = target.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) {
            reason = "cannot write " + temporary.string();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write, ec);
    fs::rename(temporary, target, ec);
    if (ec) {
        reason = ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace

// ---- built into the program ---------------------------------------------------------------------

CertSourceFromMem::CertSourceFromMem(std::span<const unsigned char> cipher,
                                     std::span<const unsigned char> ivBlock)
    : m_cipher(cipher), m_ivBlock(ivBlock) {}

bool CertSourceFromMem::init(const std::string&) {
    m_text.clear();
    const auto keyBytes = tls::builtinCertificateKey();
    const auto key = tls::AesKey::fromBytes(keyBytes, 128);
    if (!key || m_cipher.empty() || m_cipher.size() % tls::kAesBlockSize != 0 ||
        m_ivBlock.size() < tls::kAesBlockSize) {
        return false;
    }
    std::string plain;
    if (!tls::aesCbcDecrypt(*key, m_ivBlock.first(tls::kAesBlockSize), m_cipher, plain)) {
        return false;
    }
    plain = tls::untilFirstZero(plain);
    if (!tls::looksLikePem(plain)) {
        OKV_LOG_ERROR("{}; Reason: {}", "Failed to decrypt the built-in certificate",
                      "the result is not a PEM text");
        return false;
    }
    m_text = std::move(plain);
    return true;
}

CertSourceFromMemSelf::CertSourceFromMemSelf()
    : CertSourceFromMem(tls::builtin::selfSignedCipher(), tls::builtin::ivBlock()) {}

CertSourceFromMemCA::CertSourceFromMemCA()
    : CertSourceFromMem(tls::builtin::caOrganizationCipher(), tls::builtin::ivBlock()) {}

// ---- the certificate file -----------------------------------------------------------------------

std::string certificateFilePath() {
    std::string dir;
    std::error_code ec;
    if (!platform::sharedDataDir(dir, ec)) {
        return "./certificate";
    }
    return (fs::path(dir) / "var" / "conf" / "certificate").string();
}

bool CertSourceFromDisk::init(const std::string&) {
    m_text.clear();
    const std::string path = pathOr(m_path);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return false;
    }
    std::string content;
    if (!utilities::readWholeFile(path, content, ec)) {
        OKV_LOG_WARN("{}; Reason: {}", "Failed to read the certificate file", ec.message());
        return false;
    }
    std::optional<tls::AesKey> key;
    if (const int result = deviceKey(key); result != kUniqueKeyOk || !key) {
        OKV_LOG_WARN("{}; Reason: getUniqueKey() return = {}", "Failed to get the decryption certificate key",
                     result);
        return false;
    }
    // Line ends are not part of the digits (an editor may have added one).
    content.erase(content.find_last_not_of("\r\n") + 1);
    std::vector<unsigned char> cipher;
    std::string plain;
    const auto iv = tls::certificateFileIv();
    if (!tls::fromHex(content, cipher) || !tls::aesCbcDecrypt(*key, iv, cipher, plain) ||
        !tls::removeBlockPadding(plain) || !tls::looksLikePem(plain)) {
        OKV_LOG_WARN("{}; Reason: {}", "Failed to decrypt the certificate file",
                     "it was not written on this device, or it is damaged");
        return false;
    }
    m_text = std::move(plain);
    return true;
}

// ---- handed over at run time --------------------------------------------------------------------

bool CertSourceFormDownload::init(const std::string& argument) {
    m_text.clear();
    if (!tls::holdsCertificateAndKey(argument)) {
        OKV_LOG_WARN("{}; Reason: {}", "Refuse the downloaded certificate",
                     "it holds no certificate with its private key");
        return false;
    }
    m_text = argument;
    return true;
}

bool CertSourceFormDownload::persistence() {
    if (m_text.empty()) {
        return false;
    }
    OKV_LOG_INFO("Persist the downloaded credit certificate");
    std::optional<tls::AesKey> key;
    if (const int result = deviceKey(key); result != kUniqueKeyOk || !key) {
        OKV_LOG_ERROR("{}; Reason: getUniqueKey() return = {}",
                      "Failed to obtain the key of the encryption certificate", result);
        return false;
    }
    std::vector<unsigned char> cipher;
    const auto iv = tls::certificateFileIv();
    if (!tls::aesCbcEncrypt(*key, iv, tls::padToBlocks(m_text), cipher)) {
        OKV_LOG_ERROR("{}; Reason: {}", "Failed to encrypt the downloaded certificate", "the cipher failed");
        return false;
    }
    const std::string path = pathOr(m_path);
    std::string reason;
    if (!replaceFile(path, tls::toUpperHex(cipher), reason)) {
        OKV_LOG_ERROR("{}; Reason: {}", "Failed to write the certificate file " + path, reason);
        return false;
    }
    return true;
}

// ---- by kind ------------------------------------------------------------------------------------

std::shared_ptr<CertificateSource> makeCertificateSource(int kind) {
    switch (static_cast<CertificateKind>(kind)) {
        case CertificateKind::MemSelf:
            return std::make_shared<CertSourceFromMemSelf>();
        case CertificateKind::MemCA:
            return std::make_shared<CertSourceFromMemCA>();
        case CertificateKind::Disk:
            return std::make_shared<CertSourceFromDisk>();
        case CertificateKind::Download:
            return std::make_shared<CertSourceFormDownload>();
    }
    return nullptr;
}

}  // namespace talvern
