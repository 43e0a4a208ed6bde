#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace talvern::signCheck {

class IByteSource;

/// MD5 of every byte of source, read in blocks of 16384 bytes, as 32 lower-case hexadecimal digits.
bool md5Hex(IByteSource& source, std::string& hex, std::error_code& ec);

/// MD5 of a regular file's whole content (the plug-in feature list's digest), lower-case hex; also gives
/// the file's size.
bool fileMd5Hex(const std::string& path, std::string& hex, std::uint64_t& size, std::error_code& ec);

}  // namespace talvern::signCheck
