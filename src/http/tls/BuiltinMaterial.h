#pragma once

// The certificates built into the program, as they are stored: AES-128-CBC ciphertexts under the
// built-in key, with the IV at the start of a stored block. The definitions are generated at build time
// (okavel_tls_embed) from material made in the build directory.

#include <cstddef>
#include <span>

namespace talvern::tls::builtin {

/// Nominal sizes of the stored blocks; a longer certificate grows its block by whole AES blocks.
inline constexpr std::size_t kSelfSignedBlockSize = 6000;
inline constexpr std::size_t kCaOrganizationBlockSize = 7280;
inline constexpr std::size_t kIvBlockSize = 4064;

/// The self-signed server certificate and its key, zero-padded to the block size, encrypted.
std::span<const unsigned char> selfSignedCipher();
/// The organisation-issued server certificate, its key and the authority's certificate, likewise.
std::span<const unsigned char> caOrganizationCipher();
/// The stored block whose first 16 bytes are the IV of both ciphertexts.
std::span<const unsigned char> ivBlock();

}  // namespace talvern::tls::builtin
