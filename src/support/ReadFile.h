#pragma once

#include <string>
#include <system_error>

namespace talvern::utilities {

/// Reads a whole file. On failure returns false with the reason (a file that does not exist gives
/// std::errc::no_such_file_or_directory; a directory gives std::errc::is_a_directory).
bool readWholeFile(const std::string& path, std::string& content, std::error_code& ec);

}  // namespace talvern::utilities
