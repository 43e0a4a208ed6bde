#include "rpc/RpcServerViaPipe.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <thrift/transport/TServerSocket.h>

#include <cstring>
#include <filesystem>

#include "log/Log.h"
#include "platform/Paths.h"
#include "rpc/ServiceMultiplexer.h"
#include "rpc/ThriftServerRunner.h"

namespace talvern::rpc {

namespace {

// True when a server accepts connections on the socket file: it is in use, not stale.
bool someoneListensOn(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

RpcServerViaPipe::RpcServerViaPipe() : MultiplexedServer("Pipe") {}

RpcServerViaPipe::~RpcServerViaPipe() { stop(); }

std::string RpcServerViaPipe::socketPathFor(const std::string& pipeName) {
    return (std::filesystem::path(platform::runtimeDir()) / (pipeName + ".sock")).string();
}

bool RpcServerViaPipe::start(const std::string& pipeName) {
    if (pipeName.empty()) {
        OKV_LOG_ERROR("Start the named pipeline RPC service failure; Reason: The pipe name is empty");
        return false;
    }
    if (m_runner->running()) {
        return true;
    }
    OKV_LOG_INFO("ready to start pipe-rpc server for {}", pipeName);
    const std::string path = socketPathFor(pipeName);
    if (someoneListensOn(path)) {
        OKV_LOG_ERROR("Start the named pipeline RPC service failure; Reason: another process serves {}",
                      path);
        return false;
    }
    // A socket file left by a process that died keeps the address taken. The socket is bound under a
    // passing name and takes its own once it listens, so that the file clients look for never stands for
    // a socket that refuses them.
    ::unlink(path.c_str());
    const std::string bound = path + ".binding";
    ::unlink(bound.c_str());
    auto socket = std::make_shared<apache::thrift::transport::TServerSocket>(bound);
    // Set on the server thread before start() returns.
    auto placed = std::make_shared<bool>(false);
    bool started =
        m_runner->start(socket, m_processor, kMaxConcurrentClients, nullptr, [bound, path, placed] {
            if (::chmod(bound.c_str(), 0666) != 0) {
                OKV_LOG_WARN("the pipe-rpc socket {} stays private; Reason: chmod failed, errno {}", path,
                             errno);
            }
            *placed = ::rename(bound.c_str(), path.c_str()) == 0;
            if (!*placed) {
                OKV_LOG_ERROR(
                    "Start the named pipeline RPC service failure; Reason: {} could not take its name, errno "
                    "{}",
                    path, errno);
            }
        });
    if (started && !*placed) {
        m_runner->stop();
        ::unlink(bound.c_str());
        started = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pipeName = pipeName;
        m_socketPath = started ? path : std::string();
    }
    OKV_LOG_INFO("start pipe-rpc server for {} finish, the result is {}.", pipeName,
                 started ? "success" : "failed");
    return started;
}

void RpcServerViaPipe::stop() {
    const bool wasRunning = m_runner->running();
    m_runner->stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (wasRunning && !m_socketPath.empty()) {
        ::unlink(m_socketPath.c_str());
    }
}

std::string RpcServerViaPipe::socketPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_socketPath;
}

}  // namespace talvern::rpc
