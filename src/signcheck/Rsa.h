#pragma once

// RSA PKCS #1 v1.5 signatures over SHA-256, as used by signed JSON documents.

#include <memory>
#include <string>

namespace talvern::rsa {

/// An RSA key read from PEM text. Opaque: the crypto library stays inside.
class RsaKey;
struct RsaKeyDeleter {
    void operator()(RsaKey* key) const noexcept;
};
using RsaKeyPtr = std::unique_ptr<RsaKey, RsaKeyDeleter>;

/// Reads an RSA key from PEM text: a public key (SubjectPublicKeyInfo) when isPublic, else a private key
/// ("RSA PRIVATE KEY" or PKCS #8 "PRIVATE KEY"). Null when the text holds no RSA key of that kind.
RsaKeyPtr generateRSA(const std::string& key, bool isPublic);

/// True when signature is a valid RSA PKCS #1 v1.5 SHA-256 signature of data under the public key text.
/// Empty data or signature are refused.
bool rsa_sha256_verify(const std::string& data, const std::string& signature, const std::string& key);

/// Signs data with the private key text; false (with nothing written) when the key is unusable.
bool rsa_sha256_sign(const std::string& data, const std::string& privateKey, std::string& signature);

}  // namespace talvern::rsa
