#pragma once

#include <string>

namespace talvern::signCheck {

/// A file path as wide characters. Linux paths are bytes: valid UTF-8 is decoded, and every byte that
/// is not part of a valid sequence becomes U+DC00 + byte, so that narrowPath gives the bytes back.
std::wstring widenPath(const std::string& bytes);

/// The bytes of a path made by widenPath (or any wide text, encoded as UTF-8).
std::string narrowPath(const std::wstring& wide);

}  // namespace talvern::signCheck
