#pragma once

#include <string>

namespace talvern {

/// The description of the service unit: message 37 of the catalogue in the display language.
std::string serviceDescription();

}  // namespace talvern
