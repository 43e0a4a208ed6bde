#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "AgentSandbox.h"
#include "signcheck/JsonSignChk.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"

using talvern::test::AgentSandbox;
using talvern::test::CertOptions;
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

    static void sign(const fs::path& file, const PkiIdentity& signer,
                     std::optional<std::time_t> signingTime = {}) {
        ASSERT_EQ(talvern::test::signWith(file, signer.certificate, signer.key, signingTime), "");
    }

    PkiIdentity signer(CertOptions options, const std::string& stem) {
        return pki.issue(root, options, stem);
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

TEST_F(PluginLoading, OnlyLibrariesSignedByTheMakerThroughATrustedChainLoad) {
    auto unsignedLib = addPlugin("unsigned.so");
    auto good = addPlugin("good.so");
    sign(good, signer({}, "maker"));
    auto lowerName = addPlugin("lowername.so");
    sign(lowerName, signer(CertOptions{"talvern technologies", ""}, "lower"));
    auto noUsage = addPlugin("nousage.so");
    CertOptions withoutUsage;
    withoutUsage.codeSigning = false;
    sign(noUsage, signer(withoutUsage, "nousage"));
    auto foreign = addPlugin("foreign.so");
    TestPki otherPki{pkiDir.path() / "other"};
    PkiIdentity otherRoot = otherPki.createRootCa("Other Root");
    sign(foreign, otherPki.issue(otherRoot, {}, "othermaker"));
    auto altered = addPlugin("altered.so");
    sign(altered, signer({}, "maker2"));
    std::string bytes = AgentSandbox::readFile(altered);
    bytes[100] ^= 0x01;
    talvern::test::writeFile(altered, bytes);

    std::string log = runHost();
    EXPECT_TRUE(contains(log, loaded(good))) << log;
    EXPECT_TRUE(contains(log, "Plugin(" + good.string() + ") is valid, will load"));
    for (const auto& file : {unsignedLib, lowerName, noUsage, foreign, altered}) {
        EXPECT_TRUE(contains(log, refused(file))) << file;
    }
}

TEST_F(PluginLoading, ExpiredSignerWithSigningTimeInsideItsValidityIsAccepted) {
    CertOptions expired;
    expired.notBefore = std::chrono::hours(-24 * 10);
    expired.notAfter = std::chrono::hours(-24 * 2);
    PkiIdentity old = signer(expired, "expired");
    auto inside = addPlugin("inside.so");
    sign(inside, old, std::time(nullptr) - 5 * 24 * 3600);
    auto outside = addPlugin("outside.so");
    sign(outside, old, std::time(nullptr) - 3600);

    std::string log = runHost();
    EXPECT_TRUE(contains(log, loaded(inside))) << log;
    EXPECT_TRUE(contains(log, refused(outside)));
}

TEST_F(PluginLoading, NameRulesComeBeforeTheSignature) {
    PkiIdentity maker = signer({}, "maker");
    // The extension test ignores case: a signed ".SO" loads, an unsigned one is refused for its signature.
    auto upper = addPlugin("upper.SO");
    sign(upper, maker);
    auto upperUnsigned = addPlugin("unsigned.SO", "test_module_a");
    auto abandoned = addPlugin("OKAVELSDDN.so");
    sign(abandoned, maker);
    std::ofstream(mods / "notes.txt") << "not a library";

    std::string log = runHost();
    EXPECT_TRUE(contains(log, loaded(upper)));
    EXPECT_TRUE(contains(log, refused(upperUnsigned)));
    EXPECT_FALSE(contains(log, "discard file:" + upperUnsigned.string()));
    EXPECT_TRUE(contains(log, "discard file:" + (mods / "notes.txt").string()));
    EXPECT_TRUE(
        contains(log, "discard " + abandoned.string() + "; Reason: match oKavelSddn in abandoned list"))
        << log;
    EXPECT_TRUE(contains(log, refused(abandoned)));
    EXPECT_TRUE(contains(log, refused(mods / "notes.txt")));
}

namespace {

// The feature list of files, signed with the build's feature-list key (whose public half the agent holds).
std::string signedFeatureList(const std::vector<fs::path>& files,
                              const std::function<void(std::string&)>& edit = {}) {
    talvern::test::TempDir dir;
    std::string command = std::string(OKAVEL_SIGN_TOOL) + " feature-list --key '" +
                          OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY + "' --out '" +
                          (dir.path() / "list.json").string() + "'";
    for (const auto& file : files) {
        command += " '" + file.string() + "'";
    }
    EXPECT_EQ(std::system((command + " >/dev/null").c_str()), 0);
    std::string text = AgentSandbox::readFile(dir.path() / "list.json");
    if (edit) {
        edit(text);
        std::string key = AgentSandbox::readFile(OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY);
        std::string resigned;
        std::string reason;
        EXPECT_TRUE(talvern::JsonSignChk::jsonSign(text, key, true, resigned, reason)) << reason;
        text = resigned;
    }
    return text;
}

std::string lowerMd5Of(const std::string& text) {
    auto at = text.find("\"md5\"");
    auto start = text.find('"', text.find(':', at)) + 1;
    return text.substr(start, 32);
}

}  // namespace

TEST_F(PluginLoading, ListedUnsignedLibraryIsAdmittedByAValidFeatureList) {
    auto listed = addPlugin("listed.so");
    auto unlisted = addPlugin("unlisted.so", "test_module_a");
    std::ofstream(box.binDir() / "plugins_feature.json") << signedFeatureList({listed});
    std::string log = runHost();
    EXPECT_TRUE(contains(log, "initPluginsFeature exec finish...")) << log;
    EXPECT_TRUE(contains(log, loaded(listed)));
    EXPECT_TRUE(contains(log, refused(unlisted)));
}

TEST_F(PluginLoading, AnEditedListIsIgnoredWhole) {
    auto listed = addPlugin("listed.so");
    std::string list = signedFeatureList({listed});
    std::string md5 = lowerMd5Of(list);
    list.replace(list.find(md5), 1, md5[0] == '0' ? "1" : "0");  // one digit of one md5
    std::ofstream(box.binDir() / "plugins_feature.json") << list;
    std::string log = runHost();
    EXPECT_TRUE(contains(
        log, "initPluginsFeature return false; Reason: The json file(plugins_feature.json) may be falsify"));
    EXPECT_TRUE(contains(log, refused(listed)));
}

TEST_F(PluginLoading, AnUpperCaseDigestNeverMatchesEvenWhenSigned) {
    auto listed = addPlugin("listed.so");
    std::string list = signedFeatureList({listed}, [](std::string& text) {
        std::string md5 = lowerMd5Of(text);
        std::string upper = md5;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return std::toupper(c); });
        text.replace(text.find(md5), md5.size(), upper);
    });
    std::ofstream(box.binDir() / "plugins_feature.json") << list;
    std::string log = runHost();
    EXPECT_TRUE(contains(log, "initPluginsFeature exec finish..."));
    EXPECT_TRUE(contains(log, refused(listed)));
}
