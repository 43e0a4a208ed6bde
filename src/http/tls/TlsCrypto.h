#pragma once

// The small cryptographic toolbox of the certificate sources: AES in CBC mode without implicit padding,
// the block padding of the certificate file, upper-case hexadecimal text, and the keys and IVs the
// program builds at run time from its seeds. No crypto library type leaks from here.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvern::tls {

/// The AES block size; ciphertexts are whole blocks.
inline constexpr std::size_t kAesBlockSize = 16;

/// An AES key of 128, 192 or 256 bits.
class AesKey {
public:
    /// The first bits/8 bytes of `bytes`; nullopt for any other size or too few bytes.
    static std::optional<AesKey> fromBytes(std::span<const unsigned char> bytes, int bits);

    int bits() const { return static_cast<int>(m_bytes.size() * 8); }
    const std::vector<unsigned char>& bytes() const { return m_bytes; }

private:
    explicit AesKey(std::vector<unsigned char> bytes) : m_bytes(std::move(bytes)) {}
    std::vector<unsigned char> m_bytes;
};

/// 16 bytes: the bitwise complement of each byte of a 15-character seed and its terminating zero.
std::array<unsigned char, 16> complementOfSeed(const std::array<char, 16>& seed);

/// The key of the material built into the program.
std::array<unsigned char, 16> builtinCertificateKey();
/// The IV of the certificate file (built like the key, from a seed of its own).
std::array<unsigned char, 16> certificateFileIv();

/// Decrypts whole blocks in CBC mode; false when the ciphertext is empty or not whole blocks, the IV is
/// not one block, or the cipher fails.
bool aesCbcDecrypt(const AesKey& key, std::span<const unsigned char> iv,
                   std::span<const unsigned char> cipher, std::string& plain);
/// Encrypts whole blocks in CBC mode (the caller pads); same refusals as aesCbcDecrypt.
bool aesCbcEncrypt(const AesKey& key, std::span<const unsigned char> iv, std::string_view plain,
                   std::vector<unsigned char>& cipher);

/// Pads to whole blocks with N bytes of value N (a full block when the text already ends on one).
std::string padToBlocks(std::string text);
/// Removes the padding named by the last byte; false when that byte is 0, above 16, longer than the
/// text, or the padding bytes disagree.
bool removeBlockPadding(std::string& text);

/// Two hexadecimal digits per byte.
std::string toHex(std::span<const unsigned char> bytes, bool upperCase);
/// Two upper-case hexadecimal digits per byte ("%02X").
inline std::string toUpperHex(std::span<const unsigned char> bytes) { return toHex(bytes, true); }
/// Decodes hexadecimal digits of either case; an odd count reads as if a "0" preceded it. False on any
/// other character.
bool fromHex(std::string_view text, std::vector<unsigned char>& bytes);

/// The text before the first zero byte.
std::string untilFirstZero(const std::string& text);

}  // namespace talvern::tls
