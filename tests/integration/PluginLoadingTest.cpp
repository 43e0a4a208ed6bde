#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "AgentSandbox.h"
#include "signcheck/JsonSignChk.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"

using talvern::test::AgentSandbox;
using talvern::test::contains;
using talvern::test::PkiIdentity;
using talvern::test::TestPki;
namespace fs = std::filesystem;

namespace {

// A sandbox whose agent trusts a CA made for this test, and a plug-in directory "mods" beside it.
class PluginLoading : public ::testing::Test {
protected:
    void SetUp() override {
        root = pki.createRootCa("Test Root");
        box.setEnv("OKAVEL_TRUST_ANCHORS", pki.writeBundle({root}, "anchors.pem").string());
        box.enableDebugLog();
        fs::create_directories(mods);
    }

    fs::path addPlugin(const std::string& fileName, const std::string& builtName = "test_module_y") {
        fs::path target = mods / fileName;
        fs::copy_file(std::string(OKAVEL_TEST_PLUGIN_DIR) + "/" + builtName + ".so", target);
        return target;
    }

    // Starts the host of "mods", waits until its modules were offered the load, and returns its log.
    std::string runHost() {
        auto host = box.start({"--plugin", "mods"});
        std::string logFile = (box.logDir() / "oKavelAgent_mods.log").string();
        EXPECT_TRUE(AgentSandbox::waitForFileText(logFile, "PluginsManager will load end"));
        EXPECT_EQ(box.run({"--plugin", "mods", "--plugin-stop-sync"}).exitCode, 0);
        EXPECT_EQ(host->wait(), 0);
        return AgentSandbox::readFile(logFile);
    }

    static std::string loaded(const fs::path& file) {
        return "load dynamic library: '" + file.string() + "' success.";
    }
    static std::string refused(const fs::path& file) {
        return "load dynamic library: '" + file.string() +
               "' failed, error(-1:module_load_error_category): dll signature verification failed or was "
               "filtered";
    }

    AgentSandbox box;
    talvern::test::TempDir pkiDir;
    TestPki pki{pkiDir.path()};
    PkiIdentity root;
    fs::path mods = box.binDir() / "mods";
};

}  // namespace

// Which signers the maker's check accepts is the signature check's own table (signer names, usages, foreign
// roots, validity, altered bytes) and the name rules are the load filter's: here the agent's wiring of the
// two, one library each way.
TEST_F(PluginLoading, OnlyLibrariesSignedByTheMakerThroughATrustedChainLoad) {
    const fs::path good = addPlugin("good.so");
    const fs::path plain = addPlugin("unsigned.so");
    const PkiIdentity maker = pki.issue(root, {}, "maker");
    ASSERT_EQ(talvern::test::signWith(good, maker.certificate, maker.key), "");

    const std::string log = runHost();
    EXPECT_TRUE(contains(log, loaded(good)));
    EXPECT_TRUE(contains(log, "Plugin(" + good.string() + ") is valid, will load"));
    EXPECT_TRUE(contains(log, refused(plain)));
}

namespace {

using Md5Edit = std::function<void(std::string&)>;

// Replaces the list's md5 text by what edit makes of it.
void editMd5(std::string& list, const Md5Edit& edit) {
    const auto start = list.find('"', list.find(':', list.find("\"md5\""))) + 1;
    std::string md5 = list.substr(start, 32);
    edit(md5);
    list.replace(start, 32, md5);
}

// The feature list of file, signed with the build's feature-list key (whose public half the agent holds);
// with an edit, the md5 is edited and the list signed again.
std::string signedFeatureList(const fs::path& file, const Md5Edit& edit) {
    talvern::test::TempDir dir;
    const std::string command = std::string(OKAVEL_SIGN_TOOL) + " feature-list --key '" +
                                OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY + "' --out '" +
                                (dir.path() / "list.json").string() + "' '" + file.string() + "' >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::string text = AgentSandbox::readFile(dir.path() / "list.json");
    if (edit) {
        editMd5(text, edit);
        std::string resigned;
        std::string reason;
        EXPECT_TRUE(talvern::JsonSignChk::jsonSign(
            text, AgentSandbox::readFile(OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY), true, resigned, reason))
            << reason;
        text = resigned;
    }
    return text;
}

}  // namespace

TEST_F(PluginLoading, AValidFeatureListAdmitsItsUnsignedLibrariesAndAnyEditVoidsIt) {
    const Md5Edit oneDigit = [](std::string& md5) { md5[0] = md5[0] == '0' ? '1' : '0'; };
    const Md5Edit upperCase = [](std::string& md5) {
        std::transform(md5.begin(), md5.end(), md5.begin(), [](unsigned char c) { return std::toupper(c); });
    };
    struct Case {
        const char* name;
        Md5Edit afterSigning;  // the signature no longer matches
        Md5Edit beforeSigning;
        const char* logged;
        bool loads;
    } cases[] = {
        {"valid", {}, {}, "initPluginsFeature exec finish...", true},
        {"edited md5",
         oneDigit,
         {},
         "initPluginsFeature return false; Reason: The json file(plugins_feature.json) may be falsify",
         false},
        // A signed upper-case digest never matches the lower-case one of the file.
        {"upper-case md5", {}, upperCase, "initPluginsFeature exec finish...", false},
    };
    const fs::path listed = addPlugin("listed.so");
    const fs::path unlisted = addPlugin("unlisted.so", "test_module_a");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string list = signedFeatureList(listed, c.beforeSigning);
        if (c.afterSigning) {
            editMd5(list, c.afterSigning);
        }
        talvern::test::writeFile(box.binDir() / "plugins_feature.json", list);
        fs::remove(box.logDir() / "oKavelAgent_mods.log");
        const std::string log = runHost();
        EXPECT_TRUE(contains(log, c.logged)) << log;
        EXPECT_TRUE(contains(log, c.loads ? loaded(listed) : refused(listed)));
        EXPECT_TRUE(contains(log, refused(unlisted)));
    }
}
