#pragma once

#include <cstdint>
#include <system_error>

#include "signcheck/OpenSsl.h"
#include "signcheck/SignatureTrailer.h"

namespace talvern::signCheck {

/// What a byte-source BIO has read so far; kept by the caller, outlives the BIO.
struct ByteSourceCursor {
    IByteSource* source = nullptr;
    std::uint64_t position = 0;
    std::uint64_t end = 0;
    std::error_code error;  ///< set when the source failed or ended before `end`
};

/// A read-only BIO over cursor's source from its position to its end, read in bounded blocks, so
/// that CMS digests stream through the file instead of loading it.
BioPtr makeByteSourceBio(ByteSourceCursor& cursor);

}  // namespace talvern::signCheck
