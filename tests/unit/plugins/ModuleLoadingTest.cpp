#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpResponse.h"
#include "http/HttpServerManager.h"
#include "plugins/ModuleBroker.h"
#include "plugins/ModuleErrors.h"
#include "plugins/PluginsManager.h"
#include "support/Clock.h"
#include "support/TempDir.h"
#include "talvern/IModule.h"
#include "unit/websecurity/SecurityFakes.h"

namespace fs = std::filesystem;
using talvern::IModule;
using talvern::ModuleBroker;
using talvern::test::TempDir;

// Test plug-ins report what happens to them here (resolved from this executable when they load).
namespace {
std::mutex g_journalMutex;
std::vector<std::string> g_journal;

std::vector<std::string> journal() {
    std::lock_guard lock(g_journalMutex);
    return g_journal;
}
void clearJournal() {
    std::lock_guard lock(g_journalMutex);
    g_journal.clear();
}

std::string plugin(const std::string& name) {
    return std::string(OKAVEL_TEST_PLUGIN_DIR) + "/" + name + ".so";
}

struct Outcome {
    std::error_code code;
    std::string path;
};

// Runs the real loader on path and records every result callback.
std::shared_ptr<IModule> loadOne(const std::string& path, std::vector<Outcome>& outcomes,
                                 ModuleBroker<IModule>::Filter filter = nullptr) {
    ModuleBroker<IModule> broker;
    broker.prepare(
        path,
        [&](const std::error_code& ec, const std::string& p) {
            outcomes.push_back({ec, p});
        },
        std::move(filter));
    return broker.module();
}

// Immediate environment: events run on the posting thread.
std::shared_ptr<const talvern::ModuleCallEnv> inlineEnv() {
    auto env = std::make_shared<talvern::ModuleCallEnv>();
    env->nowMs = &talvern::utilities::steadyMilliseconds;
    env->postToStrand = [](const std::string&, std::function<void()> task) { task(); };
    return env;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) void okavelTestJournal(const char* entry) {
    std::lock_guard lock(g_journalMutex);
    g_journal.emplace_back(entry);
}

TEST(ModuleLoading, BrokenLibrariesReportTheirCodeOnce) {
    struct Case {
        const char* name;
        int code;
    } cases[] = {{"test_no_constructor", 1}, {"test_no_destructor", 2}, {"test_not_a_module", 3}};
    for (const auto& c : cases) {
        std::vector<Outcome> outcomes;
        EXPECT_EQ(loadOne(plugin(c.name), outcomes), nullptr) << c.name;
        ASSERT_EQ(outcomes.size(), 1u) << c.name;
        EXPECT_EQ(outcomes[0].code.value(), c.code) << c.name;
        EXPECT_EQ(&outcomes[0].code.category(), &talvern::details::moduleCategory());
        EXPECT_EQ(outcomes[0].path, plugin(c.name));
    }
}

TEST(ModuleLoading, UnloadableFileReportsTheLoadersOwnMessage) {
    TempDir dir;
    std::ofstream(dir / "junk.so") << std::string(128, 'x');  // long enough to have a header to read
    struct Case {
        std::string path;
        const char* reason;
    } cases[] = {{(dir / "junk.so").string(), "invalid ELF header"},
                 {(dir / "missing.so").string(), "No such file or directory"}};
    for (const auto& c : cases) {
        std::vector<Outcome> outcomes;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(loadOne(c.path, outcomes), nullptr);
        std::string err = ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(&outcomes[0].code.category(), &talvern::details::libraryLoaderCategory());
        EXPECT_NE(outcomes[0].code.message().find(c.reason), std::string::npos) << outcomes[0].code.message();
        EXPECT_NE(err.find(c.path + "  error: " + c.path), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
    }
}

class PluginDirectoryTest : public ::testing::Test {
protected:
    PluginDirectoryTest() { clearJournal(); }
    void copyPlugin(const std::string& name, const fs::path& target) {
        fs::create_directories(target.parent_path());
        fs::copy_file(plugin(name), target);
    }
    void load(talvern::PluginsManager& manager) {
        manager.load(
            root.str(),
            [&](const std::error_code& ec, const std::string& path) {
                outcomes.push_back({ec, path});
            },
            nullptr);
    }
    TempDir root;
    std::vector<Outcome> outcomes;
};

TEST_F(PluginDirectoryTest, LifeCycleCallsFollowPriorityAndUnloadKeepsTheSameOrder) {
    copyPlugin("test_module_a", root / "g" / "p3.so");
    copyPlugin("test_module_x", root / "g" / "pm1.so");
    copyPlugin("test_module_y", root / "g" / "p0.so");
    talvern::PluginsManager manager(inlineEnv());
    load(manager);
    manager.moduleWillLoadFinished(nullptr);
    manager.moduleDidLoadFinished();
    manager.moduleWillUnloadFinished();
    manager.moduleDidUnloadFinished();
    manager.moduleDidRecivedEventMessage("statusEvent|ready", "{}");
    std::vector<std::string> expected;
    for (const char* call : {"willLoad", "didLoad", "willUnload", "didUnload", "event statusEvent|ready"}) {
        for (const char* module : {"x", "y", "a"}) {  // priorities -1, 0, 3
            expected.push_back(std::string("module-") + module + ":" + call);
        }
    }
    EXPECT_EQ(journal(), expected);
}

TEST_F(PluginDirectoryTest, TheFirstOfTwoGroupsDeclaringAPathTakesEveryRequestForIt) {
    copyPlugin("test_module_x", root / "g1" / "x.so");
    copyPlugin("test_module_z", root / "g2" / "z.so");
    talvern::SdpModuleManagerStategy strategy(inlineEnv());
    strategy.load(root.str(), nullptr, nullptr);
    strategy.moduleWillLoadFinished(nullptr);
    ASSERT_EQ(strategy.groups().size(), 2u);
    const std::string first = (*strategy.groups()[0].modules)[0].module()->guid();

    auto manager = std::make_shared<talvern::HttpServerManager>();
    for (int i = 0; i < 3; ++i) {
        auto* response =
            new talvern::HttpResponse(new talvern::test::SecRequest("/v1/shared"), nullptr, 0, manager);
        EXPECT_TRUE(strategy.moduleDidRecivedHttpMessage(response->request(), response));
    }
    auto* undeclared =
        new talvern::HttpResponse(new talvern::test::SecRequest("/v1/other"), nullptr, 0, manager);
    EXPECT_FALSE(strategy.moduleDidRecivedHttpMessage(undeclared->request(), undeclared));
    undeclared->next(false);  // nobody took it: end it as the agent's 404 answer would

    std::vector<std::string> http;
    for (const auto& entry : journal()) {
        if (entry.find(":http") != std::string::npos) {
            http.push_back(entry);
        }
    }
    EXPECT_EQ(http, std::vector<std::string>(3, first + ":http"));
}
