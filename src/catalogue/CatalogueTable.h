#pragma once

#include <cstddef>
#include <cstdint>

namespace talvern::utilities {

/// One numbered user message. Texts may hold a "%s" placeholder that the caller fills.
struct CatalogueEntry {
    std::int32_t code;
    const char* chinese;  ///< UTF-8
    const char* english;
};

/// The constant table, in ascending code order.
extern const CatalogueEntry kCatalogueTable[];
extern const std::size_t kCatalogueTableSize;

}  // namespace talvern::utilities
