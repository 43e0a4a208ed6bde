#pragma once

#include <string>

namespace talvern::base64 {

/// Standard Base64 with padding, on one line.
std::string encode(const std::string& bytes);

/// Decodes standard Base64 (white space ignored); false on any other character or a bad length.
bool decode(const std::string& text, std::string& bytes);

}  // namespace talvern::base64
