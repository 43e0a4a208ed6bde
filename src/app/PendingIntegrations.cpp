#include "app/PendingIntegrations.h"

// Interim until the message catalogue joins the build.
namespace talvern {

std::string serviceDescription() { return "oKavel agent service"; }

}  // namespace talvern
