#pragma once

// A test fixture that runs one agent host with its two loopback web servers on their fixed ports, and
// stops it again after the test.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AgentSandbox.h"
#include "support/Eventually.h"

namespace talvern::test {

class WebAgentTest : public ::testing::Test {
protected:
    /// Starts the host (the main plug-in directory unless told otherwise) and waits until its web servers
    /// have published their port.
    void startAgent(std::vector<std::string> args = {"--plugin", "plugins"}) {
        m_args = args;
        agent = box.start(args);
        ASSERT_TRUE(eventually([&] { return !portFile().empty() || !agent->running(); })) << agent->out();
        ASSERT_TRUE(agent->running()) << agent->out();
    }
    void TearDown() override {
        if (agent && agent->running()) {
            std::vector<std::string> stop = m_args;  // the same host: the same options
            stop.push_back("--plugin-stop-sync");
            box.run(stop);
            agent->wait();
        }
    }
    /// The port the first web server is bound to, as published for other programs.
    std::string portFile() const { return AgentSandbox::readFile(box.binDir() / "var/run/httpserver"); }
    /// Writes a file of the shared data directory (configuration the agent reads).
    void writeShared(const std::string& name, const std::string& text) const {
        std::filesystem::path file = box.sharedDir() / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::trunc) << text;
    }
    /// Everything the agent logged so far.
    std::string logText() const {
        std::string text;
        for (const auto& name : AgentSandbox::listFiles(box.logDir())) {
            text += AgentSandbox::readFile(box.logDir() / name);
        }
        return text;
    }

    AgentSandbox box;
    std::unique_ptr<AgentProcess> agent;

private:
    std::vector<std::string> m_args;
};

}  // namespace talvern::test
