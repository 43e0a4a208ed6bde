// Every controller of these tests edits a hosts file and publishes port files of its own: they are moved
// into a temporary directory for the whole test program, and its fixed ports by a free offset.

#include "support/PortOffset.h"
#include "support/TempDir.h"

namespace {

using talvern::test::ScopedEnv;

struct ControllerFiles {
    talvern::test::TempDir dir;
    ScopedEnv hosts{"OKAVEL_HOSTS_FILE", (dir.path() / "hosts").string()};
    ScopedEnv runtime{"OKAVEL_RUNTIME_DIR", (dir.path() / "run").string()};
    ScopedEnv shared{"OKAVEL_SHARED_DATA_DIR", (dir.path() / "shared").string()};
    ScopedEnv ports{"OKAVEL_PORT_OFFSET", std::to_string(talvern::test::freePortOffset())};
} g_files;

}  // namespace
