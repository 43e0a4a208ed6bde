#include "signcheck/SignatureTrailer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "signcheck/SignErrors.h"

namespace talvern::signCheck {

static_assert(kSignatureMagic.size() == 29, "the magic is part of the file format");

FileByteSource::~FileByteSource() { ::close(m_fd); }

std::unique_ptr<FileByteSource> FileByteSource::open(const std::string& path, std::error_code& ec) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ec.assign(errno, std::system_category());
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ec.assign(errno, std::system_category());
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        ec = sign_errc::not_regular_file;
        ::close(fd);
        return nullptr;
    }
    ec.clear();
    return std::unique_ptr<FileByteSource>(new FileByteSource(fd, static_cast<std::uint64_t>(st.st_size)));
}

long long FileByteSource::readAt(std::uint64_t offset, void* buffer, std::size_t length,
                                 std::error_code& ec) {
    for (;;) {
        ssize_t n = ::pread(m_fd, buffer, length, static_cast<off_t>(offset));
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR) {
            ec.assign(errno, std::system_category());
            return -1;
        }
    }
}

long long MemoryByteSource::readAt(std::uint64_t offset, void* buffer, std::size_t length, std::error_code&) {
    if (offset >= m_bytes.size()) {
        return 0;
    }
    std::size_t n = std::min<std::uint64_t>(length, m_bytes.size() - offset);
    std::memcpy(buffer, m_bytes.data() + offset, n);
    return static_cast<long long>(n);
}

bool parseTrailer(std::string_view tail, std::uint64_t fileSize, TrailerLocation& location,
                  std::error_code& ec) {
    if (fileSize < kTrailerBytes || tail.size() != kTrailerBytes ||
        tail.substr(kSignatureLengthBytes) != kSignatureMagic) {
        ec = sign_errc::not_signed;
        return false;
    }
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < kSignatureLengthBytes; ++i) {
        length = (length << 8) | static_cast<unsigned char>(tail[i]);
    }
    if (length == 0 || length > fileSize - kTrailerBytes) {
        ec = sign_errc::trailer_malformed;
        return false;
    }
    if (length > kMaxSignatureBytes) {
        ec = sign_errc::signature_too_large;
        return false;
    }
    location.signatureLength = length;
    location.contentLength = fileSize - kTrailerBytes - length;
    ec.clear();
    return true;
}

bool readExactly(IByteSource& source, std::uint64_t offset, void* buffer, std::size_t length,
                 std::error_code& ec) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        long long n = source.readAt(offset, out, length, ec);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            // The file shrank under us.
            ec = sign_errc::trailer_malformed;
            return false;
        }
        out += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    ec.clear();
    return true;
}

bool locateTrailer(IByteSource& source, TrailerLocation& location, std::error_code& ec) {
    const std::uint64_t size = source.size();
    if (size < kTrailerBytes) {
        ec = sign_errc::not_signed;
        return false;
    }
    char tail[kTrailerBytes];
    if (!readExactly(source, size - kTrailerBytes, tail, sizeof tail, ec)) {
        return false;
    }
    return parseTrailer(std::string_view(tail, sizeof tail), size, location, ec);
}

bool readSignatureBlock(IByteSource& source, TrailerLocation& location, std::vector<unsigned char>& der,
                        std::error_code& ec) {
    if (!locateTrailer(source, location, ec)) {
        return false;
    }
    der.resize(location.signatureLength);
    return readExactly(source, location.contentLength, der.data(), der.size(), ec);
}

std::string makeTrailer(std::uint32_t derLength) {
    std::string trailer;
    trailer.reserve(kTrailerBytes);
    for (int shift = 24; shift >= 0; shift -= 8) {
        trailer.push_back(static_cast<char>((derLength >> shift) & 0xff));
    }
    trailer.append(kSignatureMagic);
    return trailer;
}

}  // namespace talvern::signCheck
