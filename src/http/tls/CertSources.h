#pragma once

// The four certificate sources.
//
//     auto source = std::make_shared<CertSourceFormDownload>();
//     if (source->init(pemFromTheNetwork)) {
//         source->persistence();            // the certificate file, for the next start
//     }
//     CertSourceFromDisk disk;
//     disk.init({});                        // the same text again

#include <span>
#include <string>

#include "http/tls/CertificateSource.h"

namespace talvern {

/// A certificate built into the program: whole AES blocks under the built-in key, the IV being the first
/// 16 bytes of a stored block. The decrypted text ends at its first zero byte and must be PEM.
class CertSourceFromMem : public CertificateSource {
public:
    CertSourceFromMem(std::span<const unsigned char> cipher, std::span<const unsigned char> ivBlock);
    bool init(const std::string& argument) override;

private:
    std::span<const unsigned char> m_cipher;
    std::span<const unsigned char> m_ivBlock;
};

/// Kind 0: the self-signed server certificate.
class CertSourceFromMemSelf : public CertSourceFromMem {
public:
    CertSourceFromMemSelf();
};

/// Kind 1: the server certificate issued by the organisation's authority, followed by its chain.
class CertSourceFromMemCA : public CertSourceFromMem {
public:
    CertSourceFromMemCA();
};

/// The certificate file: "var/conf/certificate" under the shared data directory, or "./certificate"
/// when that directory cannot be determined.
std::string certificateFilePath();

/// Kind 2: the certificate file, upper-case hexadecimal of the AES-128-CBC ciphertext under the device
/// key (getUniqueKey kind 3) and the program's file IV.
class CertSourceFromDisk : public CertificateSource {
public:
    /// Reads certificateFilePath() (worked out at each init).
    CertSourceFromDisk() = default;
    /// Reads `path` instead.
    explicit CertSourceFromDisk(std::string path) : m_path(std::move(path)) {}
    bool init(const std::string& argument) override;

private:
    std::string m_path;
};

/// Kind 3: a certificate handed over at run time (PEM with a certificate and its private key);
/// `persistence` writes it to the certificate file in the form CertSourceFromDisk reads.
class CertSourceFormDownload : public CertificateSource {
public:
    CertSourceFormDownload() = default;
    /// Persists to `path` instead of certificateFilePath().
    explicit CertSourceFormDownload(std::string path) : m_path(std::move(path)) {}
    /// Takes `argument` as the text; refused (text empty) when it holds no certificate and key.
    bool init(const std::string& argument) override;
    /// Writes the text over the certificate file. False when there is no text or it could not.
    bool persistence() override;

private:
    std::string m_path;
};

}  // namespace talvern
