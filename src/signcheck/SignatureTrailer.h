#pragma once

// The layout of an appended signature:
//   [content][DER CMS SignedData][4-byte big-endian length of the DER][kSignatureMagic]
// and the bounded readers the checker and the signer use on it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace talvern::signCheck {

inline constexpr std::string_view kSignatureMagic{"~Talvern signature appended~\n"};
inline constexpr std::size_t kSignatureLengthBytes = 4;
inline constexpr std::size_t kTrailerBytes = kSignatureLengthBytes + kSignatureMagic.size();
/// No real signature (a certificate chain and one signer) comes near this; larger blocks are refused
/// before anything is allocated for them.
inline constexpr std::uint32_t kMaxSignatureBytes = 1u << 20;
/// Files are read in blocks of this size, never whole.
inline constexpr std::size_t kReadBlockBytes = 16384;

/// Random access to the bytes of a file (or of a buffer in tests and fuzzing).
class IByteSource {
public:
    virtual ~IByteSource() = default;
    virtual std::uint64_t size() const = 0;
    /// Reads up to length bytes at offset; returns the count read (0 at the end) or -1 with ec.
    virtual long long readAt(std::uint64_t offset, void* buffer, std::size_t length, std::error_code& ec) = 0;
};

/// A regular file opened for reading; open fails for directories, devices and pipes.
class FileByteSource final : public IByteSource {
public:
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    static std::unique_ptr<FileByteSource> open(const std::string& path, std::error_code& ec);

    std::uint64_t size() const override { return m_size; }
    long long readAt(std::uint64_t offset, void* buffer, std::size_t length, std::error_code& ec) override;

private:
    FileByteSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    int m_fd;
    std::uint64_t m_size;
};

/// Bytes held in memory (borrowed; the owner keeps them alive).
class MemoryByteSource final : public IByteSource {
public:
    explicit MemoryByteSource(std::string_view bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    long long readAt(std::uint64_t offset, void* buffer, std::size_t length, std::error_code& ec) override;

private:
    std::string_view m_bytes;
};

/// Where the parts of a signed file lie.
struct TrailerLocation {
    std::uint64_t contentLength = 0;  ///< bytes covered by the signature (the file's original bytes)
    std::uint32_t signatureLength = 0;
};

/// Parses the last kTrailerBytes of a file of fileSize bytes. not_signed when the magic is absent;
/// trailer_malformed or signature_too_large when the stated length cannot be right.
bool parseTrailer(std::string_view tail, std::uint64_t fileSize, TrailerLocation& location,
                  std::error_code& ec);

/// Finds the trailer of source.
bool locateTrailer(IByteSource& source, TrailerLocation& location, std::error_code& ec);

/// Reads exactly length bytes at offset; a short read is an error.
bool readExactly(IByteSource& source, std::uint64_t offset, void* buffer, std::size_t length,
                 std::error_code& ec);

/// Finds the trailer and reads the DER signature block it describes.
bool readSignatureBlock(IByteSource& source, TrailerLocation& location, std::vector<unsigned char>& der,
                        std::error_code& ec);

/// The trailer that follows a signature block of derLength bytes.
std::string makeTrailer(std::uint32_t derLength);

}  // namespace talvern::signCheck
