#include "app/SdpSingleApplicationImpl.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "app/DebugLogSwitch.h"
#include "app/SdpAppCmdHelper.h"
#include "app/SdpApplicationConsole.h"
#include "app/SdpApplicationService.h"
#include "app/cmdline/CmdlineParser.h"
#include "app/single/QtSingleCoreApplication.h"
#include "log/Check.h"
#include "log/CrashDump.h"
#include "log/Log.h"
#include "log/LogSetup.h"
#include "platform/NamedLock.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"
#include "process/ProcessUtils.h"
#include "signcheck/SignCheck.h"
#include "support/TextCase.h"
#include "support/Timer.h"

namespace fs = std::filesystem;

namespace talvern {
namespace {

const char* const kAntiPhishingMutex = "Global\\Core_{8BAF866D-42D1-4A16-B32C-D5831E8D6EF2}";
const char* const kProtectionModule = "../oKavelDefenser/liboKavelDefenser.so";

std::string pidPrefix() {
    return "[current process id:" + std::to_string(platform::currentProcessId()) + "] ";
}

std::string joinArguments(int argc, char** argv) {
    std::string joined;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            joined += ' ';
        }
        joined += argv[i] ? argv[i] : "";
    }
    return joined;
}

}  // namespace

SdpSingleApplicationImpl::SdpSingleApplicationImpl(int argc, char** argv)
    : m_argc(argc), m_argv(argv), m_cmdParser(std::make_shared<cmdline::parser>()) {}

SdpSingleApplicationImpl::~SdpSingleApplicationImpl() {
    // The application (and with it the agent) goes before the guard and the timers it may still use.
    m_sdpApp.reset();
    if (m_debugSwitch) {
        m_debugSwitch->stop();
    }
}

void SdpSingleApplicationImpl::say(const std::string& text) {
    std::cout << pidPrefix() << text << std::endl;
    OKV_LOG_INFO("{}{}", pidPrefix(), text);
}

int SdpSingleApplicationImpl::exec() {
    std::cout << "initCmdline begin" << std::endl;
    if (!initCmdline(*m_cmdParser, m_argc, m_argv)) {
        std::cerr << "initCmdline fail" << std::endl;
        return -1;
    }
    std::cout << "initCmdline end" << std::endl;

    // Crash dumps are written from here on.
    std::string dumpDir = dumpDirectoryFor(m_argv[0]);
    installCrashHandler(m_argc, m_argv);

    std::string logName = logFileName(*m_cmdParser);
    std::string logDir;
    if (!m_cmdParser->exist("plugin")) {
        logDir = "logs/";
        std::cout << "service log name:" << logName << std::endl;
    } else {
        std::cout << "console app log name:" << logName << std::endl;
        std::string appData;
        std::error_code ec;
        if (getAppdataPath(appData, ec)) {
            logDir = (fs::path(appData) / "logs").string();
        } else {
            std::cout << "get app path fail,so we create log in current dir,error:" << ec.value()
                      << "msg:" << ec.message() << std::endl;
            logDir = fs::current_path(ec).string();
        }
    }
    try {
        initLogNameWithDir(logName, logDir, true, true);
    } catch (...) {
        std::cerr << "exception in init log" << std::endl;
    }
    m_debugSwitch = std::make_unique<DebugLogSwitch>(utilities::Timer::instance());
    m_debugSwitch->start();
    adjustDumpFiles(dumpDir);
    std::cout << "log name:" << logName << std::endl;
    OKV_LOG_INFO("init {} finished", logName);
    std::error_code cwdEc;
    OKV_LOG_INFO("current work path:{}", fs::current_path(cwdEc).string());

    loadProtectionModule();

    OKV_LOG_INFO("initSingleApp begin");
    initSingleApp();
    OKV_LOG_INFO("initSingleApp end");

    utilities::windows::enableSeDebugPrivilege::init();
    logSessionAndUser();

    OKV_LOG_INFO("filterCmd begin");
    int exitCode = 0;
    bool handled = filterCmd(exitCode);
    OKV_LOG_INFO("filterCmd end");
    if (handled) {
        return exitCode;
    }

    if (isServiceApplication(*m_cmdParser, m_argc, m_argv)) {
        std::cout << "exec service application" << std::endl;
        m_sdpApp = std::make_shared<SdpApplicationService>(m_cmdParser, m_argc, m_argv, m_runLoop);
    } else {
        std::cout << "exec console application" << std::endl;
        m_sdpApp = std::make_shared<SdpApplicationConsole>(m_cmdParser, m_argc, m_argv, m_runLoop);
    }
    OKV_LOG_INFO("app exec begin");
    int result = m_sdpApp->exec();
    OKV_LOG_INFO("app exec end");
    OKV_LOG_INFO("exec end,ret value:{}", result);
    return result < 0 ? result : 0;
}

void SdpSingleApplicationImpl::loadProtectionModule() {
    std::string path = (fs::path(platform::executableDir()) / kProtectionModule).lexically_normal().string();
    if (!signCheck::windows::hasTalvernSignA(path)) {
        OKV_LOG_ERROR("oKavel load ({}) signature is abnormal, please check it.{}", path, "");
        return;
    }
    if (m_cmdParser->exist("plugin") &&
        utilities::equalsNoCase(m_cmdParser->get<std::string>("plugin"), "plugins/oKavelCore")) {
        OKV_LOG_INFO("The anti-phishing feature is enabled in the okavelcore process ");
        m_antiPhishingMutex = std::make_unique<platform::NamedLock>();
        std::error_code ec;
        if (!m_antiPhishingMutex->create(kAntiPhishingMutex, ec)) {
            OKV_LOG_WARN(
                "create anti-phishing feature mutext failed, tt may lead to defenser's warning of a "
                "anti-phishing "
                "window ; Reason: {}@{} --->>> {}",
                ec.value(), ec.category().name(), ec.message());
        }
    }
    m_protectionModule = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_protectionModule == nullptr) {
        const char* error = ::dlerror();
        OKV_LOG_ERROR("oKavel load ({}) return failed, errcode={}{}", path, errno, error ? error : "");
    }
}

void SdpSingleApplicationImpl::logSessionAndUser() {
    std::string session;
    std::string user;
    std::error_code ec;
    if (!platform::currentSessionId(session, ec)) {
        OKV_LOG_ERROR("{}; Reason: error:{}, message:{}", "get oKavetAgent running session id failed",
                      ec.value(), ec.message());
    }
    std::error_code userEc;
    platform::currentUserName(user, userEc);
    OKV_LOG_INFO("The oKavelAgent runs in session {},and current user name is {}", session, user);
}

void SdpSingleApplicationImpl::initSingleApp() {
    OKV_ENSURE(m_argc > 0, "m_argc must more than 0");
    OKV_ENSURE(m_argv != nullptr, "m_argv can not be null");
    OKV_ENSURE(m_cmdParser != nullptr, "m_cmdParser can not be null");
    if (isServiceApplication(*m_cmdParser, m_argc, m_argv)) {
        return;
    }
    std::string id = getConsoleAppId(*m_cmdParser, m_argc, m_argv);
    std::cout << pidPrefix() << "singleId:" << id << std::endl;
    OKV_LOG_INFO("singleId:{}", id);
    std::string dir;
    std::error_code ec;
    if (!platform::sharedDataDir(dir, ec)) {
        OKV_LOG_ERROR("getSharedDataPath fail");
        dir.clear();
    }
    OKV_LOG_INFO("single app dir:{}", dir);
    m_singleApp = std::make_shared<QtSingleCoreApplication>(
        QString::fromStdString(id), m_argc, m_argv, QtLockedFile::MachineScope, QString::fromStdString(dir));
}

bool SdpSingleApplicationImpl::filterCmd(int& exitCode) {
    OKV_LOG_INFO("cmd:{}", joinArguments(m_argc, m_argv));
    exitCode = 0;
    if (!m_singleApp) {
        return false;
    }
    cmdline::parser& cmd = *m_cmdParser;
    if (cmd.exist("fork")) {
        if (!process::startwithCurrentUser(cmd.get<std::string>("fork"), false)) {
            OKV_LOG_ERROR("filterCmd call startwithCurrentUser failed");
            exitCode = -4;
        }
        return true;
    }
    if (cmd.exist("plugin-detect")) {
        bool running = m_singleApp->isRunning();
        say(running ? "master instance already started" : "master instance not started");
        exitCode = running ? 0 : 2;
        return true;
    }
    if (cmd.exist("plugin-stop") || cmd.exist("plugin-stop-sync")) {
        exitCode = stopMaster(cmd.exist("plugin-stop-sync"));
        return true;
    }
    if (m_singleApp->isRunning()) {
        bool sent = m_singleApp->sendMessage(
            QStringLiteral("Master instance already running; so I will exit."), m_timing.messageTimeoutMs);
        say(sent ? " Message sent ok." : " Message sending failed; the other instance may be frozen.");
        exitCode = 0;
        return true;
    }
    std::cout << pidPrefix() << "No other instance is running; so I will start." << std::endl;
    OKV_LOG_INFO("No other instance is running; so I will start.");
    connect(m_singleApp.get(), &QtSingleCoreApplication::messageReceived, this,
            &SdpSingleApplicationImpl::handleMessage);
    m_runLoop = [] { return QCoreApplication::exec(); };
    return false;
}

int SdpSingleApplicationImpl::stopMaster(bool sync) {
    if (!m_singleApp->isRunning()) {
        return -2;
    }
    QString message = QStringLiteral("[From]:%1.").arg(platform::currentProcessId()) +
                      QStringLiteral("[cmd]:") + QStringLiteral("plugin-stop");
    bool sent = m_singleApp->sendMessage(message, m_timing.messageTimeoutMs);
    say(sent ? " Message sent ok." : " Message sending failed; the other instance may be frozen.");
    if (!sent) {
        forceKill();
        return -3;
    }
    if (!sync) {
        return 0;
    }
    std::string lockFile = getLockedfileName(m_argc, m_argv, QtLockedFile::MachineScope);
    for (int waited = 0; waited < m_timing.stopWaitLimitMs; waited += m_timing.stopPollMs) {
        if (!isLockedByOther(lockFile, QtLockedFile::MachineScope)) {
            say("stop oKavelAgent successfully");
            return 0;
        }
        OKV_LOG_INFO("sleep {} ms to wait", m_timing.stopPollMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_timing.stopPollMs));
    }
    say("stop oKavelAgent time out,we have already waitted " + std::to_string(m_timing.stopWaitLimitMs) +
        "ms");
    forceKill();
    return 3;
}

void SdpSingleApplicationImpl::handleMessage(const QString& message) {
    OKV_LOG_INFO("recv process message:{}", message.toStdString());
    std::cout << pidPrefix() << message.toStdString() << std::endl;
    if (!message.contains(QStringLiteral("plugin-stop"))) {
        return;
    }
    OKV_LOG_INFO("m_sdpApp->terminate begin");
    if (m_sdpApp) {
        m_sdpApp->stop();
    }
    OKV_LOG_INFO("m_sdpApp->terminate end");
    OKV_LOG_INFO("QCoreApplication::instance()->quit() begin");
    QCoreApplication::quit();
}

void SdpSingleApplicationImpl::forceKill() {
    std::string name = fs::path(m_argv[0] ? m_argv[0] : "").filename().string();
    std::cout << "filename:" << name << std::endl;
    std::string command = name;
    for (int i = 1; i < m_argc; ++i) {
        std::string arg = m_argv[i] ? m_argv[i] : "";
        if (arg == "--plugin-stop-sync" || arg == "--plugin-stop") {
            continue;
        }
        command += " " + arg;
    }
    std::string result = process::windows::terminateProcessByCmdLine(command);
    OKV_LOG_INFO("we will kill the process with cmd:{} result:{}", command, result);
}

std::string SdpSingleApplicationImpl::getLockedfileName(int argc, char** argv,
                                                        QtLockedFile::LockScope scope) {
    OKV_ENSURE(argc > 0, "argc must more than 0");
    OKV_ENSURE(argv != nullptr, "argv can not be null");
    cmdline::parser parser;
    std::ostringstream quiet;
    initCmdline(parser, argc, argv, quiet, quiet);
    std::string id = getConsoleAppId(parser, argc, argv);
    std::string dir;
    std::error_code ec;
    platform::sharedDataDir(dir, ec);
    return QtSingleCoreApplication::lockFileName(QString::fromStdString(id), scope,
                                                 QString::fromStdString(dir))
        .toStdString();
}

bool SdpSingleApplicationImpl::isLockedByOther(const std::string& fileName, QtLockedFile::LockScope) {
    QtLockedFile file(QString::fromStdString(fileName));
    if (!file.exists()) {
        return false;
    }
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    if (file.isLocked() || file.lock(QtLockedFile::WriteLock, false)) {
        file.unlock();
        return false;
    }
    return true;
}

}  // namespace talvern
