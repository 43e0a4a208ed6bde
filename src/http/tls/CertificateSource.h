#pragma once

#include <memory>
#include <string>

namespace talvern {

/// Where a server certificate comes from. `init` fills the certificate text: PEM with one certificate
/// and its private key, optionally followed by further chain certificates; it stays empty when the
/// material is missing or cannot be decrypted.
class CertificateSource {
public:
    virtual ~CertificateSource() = default;
    CertificateSource(const CertificateSource&) = delete;
    CertificateSource& operator=(const CertificateSource&) = delete;

    /// Fills the text from this source; true when it is not empty afterwards.
    virtual bool init(const std::string& argument) = 0;
    /// Keeps the text for later runs; only a downloaded certificate does anything here.
    virtual bool persistence() { return true; }

    const std::string& text() const { return m_text; }

protected:
    CertificateSource() = default;
    std::string m_text;
};

/// The kinds of source, the integers that select them.
enum class CertificateKind : int {
    MemSelf = 0,   ///< self-signed, built into the program
    MemCA = 1,     ///< issued by the organisation's authority, built into the program
    Disk = 2,      ///< the certificate file, encrypted with the device key
    Download = 3,  ///< handed over at run time; persisted to the certificate file
};

/// The source of `kind` (0 to 3); null for any other value.
std::shared_ptr<CertificateSource> makeCertificateSource(int kind);

}  // namespace talvern
