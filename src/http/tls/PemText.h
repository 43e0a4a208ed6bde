#pragma once

// Checks on PEM texts shared by the certificate sources (private to this folder).

#include <string>

namespace talvern::tls {

/// True when the text starts with a PEM block: what a correct decryption gives.
bool looksLikePem(const std::string& text);

/// True when the text holds a certificate and a private key that belongs to it.
bool holdsCertificateAndKey(const std::string& text);

}  // namespace talvern::tls
