#pragma once

#include <chrono>
#include <string>

namespace talvern {

/// The service host on systemd. exec() reads the command line: without arguments the service runs in the
/// foreground (a Type=notify unit) until SIGTERM or SIGINT; --install, --uninstall and --terminate act on
/// the unit "<name>.service". Subclasses supply start() and stop().
class QtServiceBase {
public:
    enum StartupType { AutoStartup = 0, ManualStartup };

    QtServiceBase(int argc, char** argv, const std::string& name);
    virtual ~QtServiceBase() = default;
    QtServiceBase(const QtServiceBase&) = delete;
    QtServiceBase& operator=(const QtServiceBase&) = delete;

    /// 0 on success; -1 when a control command failed.
    int exec();

    void setServiceDescription(const std::string& description) { m_description = description; }
    void setStartupType(StartupType type) { m_startupType = type; }
    const std::string& serviceName() const { return m_name; }

    /// The unit file's directory: $OKAVEL_SYSTEMD_UNIT_DIR or /etc/systemd/system.
    static std::string unitDirectory();
    /// The pid file of a running service: "<runtime directory>/<name>.pid".
    std::string pidFilePath() const;

protected:
    virtual void start() = 0;
    virtual void stop() = 0;
    /// True when the running service still does its work (the watchdog's probe); limit bounds the wait.
    virtual bool alive(std::chrono::milliseconds limit) {
        (void)limit;
        return true;
    }
    /// Whether a control option is on the command line. This base compares whole arguments; a host with
    /// a command-line parser reads them as its parser does (combined short flags such as "-iu").
    virtual bool requested(const char* longName, const char* shortName) const;

private:
    int run();
    int install();
    int uninstall();
    int terminate();
    std::string unitPath() const;
    /// systemctl acts only on the real unit directory of a machine that runs systemd.
    bool systemdManagesUnits() const;

    int m_argc;
    char** m_argv;
    std::string m_name;
    std::string m_description;
    StartupType m_startupType = ManualStartup;
};

}  // namespace talvern
