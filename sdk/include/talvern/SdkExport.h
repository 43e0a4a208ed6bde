#pragma once

/// Interfaces shared between the agent and its plug-ins keep default visibility, so that their type
/// information is one across the library boundary even when a plug-in hides everything else.
#define TALVERN_SDK_API __attribute__((visibility("default")))
