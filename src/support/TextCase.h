#pragma once

#include <string>
#include <string_view>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>

namespace talvern::utilities {

/// ASCII lower case (methods, paths, origins, file endings); other bytes are kept as they are.
inline std::string lowerCase(std::string_view text) {
    return boost::algorithm::to_lower_copy(std::string(text));
}

inline bool equalsNoCase(std::string_view a, std::string_view b) { return boost::algorithm::iequals(a, b); }

inline bool endsWithNoCase(std::string_view text, std::string_view ending) {
    return boost::algorithm::iends_with(text, ending);
}

}  // namespace talvern::utilities
