#include "plugins/PerformModule.h"

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <stdexcept>

#include "log/Check.h"
#include "plugins/SdpModuleStategy.h"  // HandlerChain

using talvern::PerformModule;

namespace {

// A module whose calls take as long as the test says, on a clock the test owns.
class FakeModule : public talvern::IModule {
public:
    FakeModule(std::uint64_t& clock, std::int32_t priority, std::string guid)
        : m_clock(clock), m_priority(priority), m_guid(std::move(guid)) {}

    std::uint64_t willLoadMs = 0, didLoadMs = 0, httpMs = 0, eventMs = 0;
    bool throwOnWillLoad = false;
    std::vector<std::string> seen;

    void moduleWillLoadFinished(talvern::IRunTimeContext*) override {
        m_clock += willLoadMs;
        if (throwOnWillLoad) {
            throw std::runtime_error("module exploded");
        }
    }
    void moduleDidLoadFinished() override { m_clock += didLoadMs; }
    void moduleWillUnloadFinished() override {}
    void moduleDidUnloadFinished() override {}
    std::int32_t priority() override { return m_priority; }
    const char* guid() override { return m_guid.c_str(); }
    const char* capacity() override { return nullptr; }
    const char** uris() override { return nullptr; }
    void moduleDidRecivedEventMessage(const char* topic, const char* content) override {
        m_clock += eventMs;
        seen.push_back(std::string(topic) + "=" + content);
    }
    bool moduleDidRecivedHttpMessage(talvern::IRequest*, talvern::IResponse*) override {
        m_clock += httpMs;
        return true;
    }

private:
    std::uint64_t& m_clock;
    std::int32_t m_priority;
    std::string m_guid;
};

// Queued strand tasks, run when the test says; slow-call reports collected from the check facility.
class PerformModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto env = std::make_shared<talvern::ModuleCallEnv>();
        env->nowMs = [this] { return clock; };
        env->postToStrand = [this](const std::string& guid, std::function<void()> task) {
            posted.emplace_back(guid, std::move(task));
        };
        m_env = env;
        talvern::check::setReportStream(&reports);
    }
    void TearDown() override { talvern::check::setReportStream(nullptr); }

    void runPosted() {
        while (!posted.empty()) {
            auto task = std::move(posted.front().second);
            posted.pop_front();
            task();
        }
    }
    std::shared_ptr<FakeModule> makeModule(std::int32_t priority = 0, const std::string& guid = "fake-guid") {
        return std::make_shared<FakeModule>(clock, priority, guid);
    }
    PerformModule wrap(const std::shared_ptr<FakeModule>& module) { return PerformModule(module, m_env); }
    std::string takeReports() {
        std::string text = reports.str();
        reports.str("");
        return text;
    }

    std::uint64_t clock = 1000;
    std::deque<std::pair<std::string, std::function<void()>>> posted;
    std::ostringstream reports;
    std::shared_ptr<const talvern::ModuleCallEnv> m_env;
};

}  // namespace

TEST_F(PerformModuleTest, EachCallHasItsOwnLimit) {
    auto module = makeModule();
    module->willLoadMs = 5500;
    module->didLoadMs = 5500;
    wrap(module).moduleDidLoadFinished();
    EXPECT_EQ(takeReports(), "");  // 5500 ms is within the 6000 ms of moduleDidLoadFinished

    wrap(module).moduleWillLoadFinished(nullptr);
    std::string report = takeReports();
    EXPECT_NE(report.find("moduleWillLoadFinished exceeded its limit of 5000 ms, took 5500 ms"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("please check module of guid:fake-guid"), std::string::npos);

    module->httpMs = 1000;
    EXPECT_TRUE(wrap(module).moduleDidRecivedHttpMessage(nullptr, nullptr));
    EXPECT_EQ(takeReports(), "");  // exactly at the limit is fine
    module->httpMs = 1001;
    wrap(module).moduleDidRecivedHttpMessage(nullptr, nullptr);
    EXPECT_NE(takeReports().find("moduleDidRecivedHttpMessage exceeded its limit of 1000 ms, took 1001 ms"),
              std::string::npos);
}

TEST_F(PerformModuleTest, EventsAreQueuedOnTheModulesStrandInPostingOrderAndSkipAReleasedModule) {
    auto module = makeModule(0, "guid-1");
    wrap(module).moduleDidRecivedEventMessage("a|1", "x");
    wrap(module).moduleDidRecivedEventMessage("a|2", "y");
    EXPECT_TRUE(module->seen.empty());  // nothing runs on the caller's thread
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].first, "guid-1");
    runPosted();
    EXPECT_EQ(module->seen, (std::vector<std::string>{"a|1=x", "a|2=y"}));

    // An event for a module released meanwhile runs nothing: the queued task holds no strong reference.
    std::weak_ptr<FakeModule> watch = module;
    wrap(module).moduleDidRecivedEventMessage("t|x", "{}");
    module.reset();
    EXPECT_TRUE(watch.expired());
    runPosted();
}
