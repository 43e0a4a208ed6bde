#pragma once

#include <string>

namespace talvern::http {

/// The body of the 403 answer to a request the agent will not serve: a `GeneralResp` with code 11119003
/// and the "invalid request" message of the catalogue in the display language.
std::string refusalReply();

}  // namespace talvern::http
