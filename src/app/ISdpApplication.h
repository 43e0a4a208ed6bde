#pragma once

#include <functional>
#include <memory>

namespace cmdline {
class parser;
}

namespace talvern {

/// An application mode of the agent (console host or service host).
class ISdpApplication {
public:
    ISdpApplication(std::shared_ptr<cmdline::parser> parser, int argc, char* argv[],
                    std::function<int()> runLoop)
        : m_cmdParser(std::move(parser)), m_argc(argc), m_argv(argv), m_runLoop(std::move(runLoop)) {}
    virtual ~ISdpApplication() = default;

    /// Runs the application to its end; the result decides the process's exit status.
    virtual int exec() = 0;
    /// Starts the agent.
    virtual bool start() = 0;
    /// Stops the agent ("terminate").
    virtual bool stop() = 0;

protected:
    std::shared_ptr<cmdline::parser> m_cmdParser;
    int m_argc;
    char** m_argv;
    std::function<int()> m_runLoop;  ///< runs the event loop of the single-instance guard; may be empty
};

/// The object main creates: decides the launch mode and runs it.
class ISdpSingleApplication {
public:
    virtual ~ISdpSingleApplication() = default;
    virtual int exec() = 0;
};

}  // namespace talvern
