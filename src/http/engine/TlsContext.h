#pragma once

// Private to the engine: the TLS contexts of the listeners, loaded from memory or from files.

#include <memory>
#include <string>
#include <vector>

#include <boost/asio/ssl/context.hpp>

namespace talvern::engine {

/// A server context: TLS 1.2 or later, moving write buffers accepted, the built-in DH group.
std::shared_ptr<boost::asio::ssl::context> newServerContext();

/// Installs the first certificate and the private key of `pem`; in chain form the first certificate is
/// the leaf and every further one a chain certificate. False on any failure.
bool loadTlsFromMemory(boost::asio::ssl::context& ctx, const std::vector<unsigned char>& pem, bool chainForm);

/// Installs the certificate file, the key file (the certificate file when `keyPath` is empty) and the
/// certificate file as chain, then the DH group of the certificate file when it has one. False with
/// "Invalid SSL cert", "Invalid SSL key" or "Invalid CA bundle" in `error`.
bool loadTlsFromFiles(boost::asio::ssl::context& ctx, const std::string& certPath, const std::string& keyPath,
                      std::string& error);

}  // namespace talvern::engine
