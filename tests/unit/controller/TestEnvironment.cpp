// Every controller of these tests edits a hosts file and publishes port files of its own: they are moved
// into a temporary directory for the whole test program.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/TempDir.h"

namespace {

class ControllerFiles : public ::testing::Environment {
public:
    void SetUp() override {
        m_dir = std::make_unique<talvern::test::TempDir>();
        m_hosts = std::make_unique<talvern::test::ScopedEnv>("OKAVEL_HOSTS_FILE",
                                                             (m_dir->path() / "hosts").string());
        m_runtime = std::make_unique<talvern::test::ScopedEnv>("OKAVEL_RUNTIME_DIR",
                                                               (m_dir->path() / "run").string());
        m_shared = std::make_unique<talvern::test::ScopedEnv>("OKAVEL_SHARED_DATA_DIR",
                                                              (m_dir->path() / "shared").string());
    }
    void TearDown() override {
        m_shared.reset();
        m_runtime.reset();
        m_hosts.reset();
        m_dir.reset();
    }

private:
    std::unique_ptr<talvern::test::TempDir> m_dir;
    std::unique_ptr<talvern::test::ScopedEnv> m_hosts;
    std::unique_ptr<talvern::test::ScopedEnv> m_runtime;
    std::unique_ptr<talvern::test::ScopedEnv> m_shared;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ControllerFiles);

}  // namespace
