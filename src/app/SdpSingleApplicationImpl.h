#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "app/ISdpApplication.h"
#include "app/single/QtLockedFile.h"

class QtSingleCoreApplication;

namespace cmdline {
class parser;
}

namespace talvern {

class DebugLogSwitch;

namespace platform {
class NamedLock;
}

/// The launch decision: parse the command line, set up crash dumps and logging, guard the instance,
/// run query/stop/fork commands, or run the console or service application.
class SdpSingleApplicationImpl : public QObject, public ISdpSingleApplication {
    Q_OBJECT

public:
    SdpSingleApplicationImpl(int argc, char** argv);
    ~SdpSingleApplicationImpl() override;

    int exec() override;

    /// Creates the single-instance guard (console mode only).
    void initSingleApp();
    /// Runs the query, stop and fork commands; returns true when the command ended the launch.
    bool filterCmd(int& exitCode);
    /// Master side: a message from another instance; "plugin-stop" stops the agent and leaves the loop.
    void handleMessage(const QString& message);
    /// Kills the master this stop command addresses: the process whose command line is ours minus the stop
    /// flag.
    void forceKill();

    /// The lock file of the guard for this command line.
    static std::string getLockedfileName(int argc, char** argv, QtLockedFile::LockScope scope);
    /// True when another process holds the lock on the file.
    static bool isLockedByOther(const std::string& fileName, QtLockedFile::LockScope scope);

    /// Waits used by the stop commands, replaceable by tests.
    struct Timing {
        int messageTimeoutMs = 3000;
        int stopPollMs = 200;
        int stopWaitLimitMs = 10000;
    };

private:
    void loadProtectionModule();
    void logSessionAndUser();
    int stopMaster(bool sync);
    void say(const std::string& text);

    int m_argc;
    char** m_argv;
    void* m_protectionModule = nullptr;
    std::shared_ptr<cmdline::parser> m_cmdParser;
    std::shared_ptr<ISdpApplication> m_sdpApp;
    Timing m_timing;
    std::shared_ptr<QtSingleCoreApplication> m_singleApp;
    std::function<int()> m_runLoop;
    std::unique_ptr<DebugLogSwitch> m_debugSwitch;
    std::unique_ptr<platform::NamedLock> m_antiPhishingMutex;
};

}  // namespace talvern
