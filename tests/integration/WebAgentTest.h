#pragma once

// A test fixture that runs one agent host (by default with its two loopback web servers on their fixed
// ports), and stops it again after the test.

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
    /// Starts the host (the main plug-in directory unless told otherwise) and waits until it has published
    /// the port file (of its first web server unless told otherwise).
    void startAgent(std::vector<std::string> args = {"--plugin", "plugins"},
                    const std::string& portFile = "var/run/httpserver") {
        m_args = args;
        agent = box.start(args);
        ASSERT_TRUE(eventually([&] { return port(portFile) != 0 || !agent->running(); })) << agent->out();
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
    /// The port of a port file beside the executable (the first web server's unless told otherwise).
    std::uint16_t port(const std::string& portFile = "var/run/httpserver") const {
        return AgentSandbox::readPort(box.binDir() / portFile);
    }
    /// Puts the example plug-in (which serves "/v1/hello") into a plug-in directory beside the executable.
    void addExamplePlugin(const std::string& pluginDir = "plugins") const {
        const std::filesystem::path target = box.binDir() / pluginDir / "hello" / "hello.so";
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(OKAVEL_EXAMPLE_PLUGIN, target);
    }
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
