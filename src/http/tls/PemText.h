#pragma once

// PEM helpers shared by the certificate sources and the engine's TLS loading (private to the http folder).

#include <string>

namespace talvern::tls {

/// True when the text starts with a PEM block: what a correct decryption gives.
bool looksLikePem(const std::string& text);

/// True when the text holds a certificate and a private key that belongs to it.
bool holdsCertificateAndKey(const std::string& text);

/// The pass-phrase callback of every PEM read: none is given, so an encrypted key is refused instead of
/// a pass phrase being asked for on a terminal.
int noPassPhrase(char* buffer, int size, int writing, void* userData);

}  // namespace talvern::tls
