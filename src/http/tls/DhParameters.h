#pragma once

namespace talvern::tls {

/// The listeners' Diffie-Hellman group when a certificate file brings none: a 2048-bit group as a PEM
/// "DH PARAMETERS" block.
const char* builtinDhParameters();

}  // namespace talvern::tls
