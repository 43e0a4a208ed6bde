#include "platform/Signals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace talvern::platform {
namespace {

sigset_t agentSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGQUIT);
    sigaddset(&set, SIGABRT);
    return set;
}

}  // namespace

void blockAgentSignals() {
    sigset_t set = agentSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void unblockAgentSignals() {
    sigset_t set = agentSignals();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

struct SignalWaiter::Impl {
    int signalFd = -1;
    int stopFd = -1;
    std::thread thread;

    ~Impl() {
        if (signalFd >= 0) {
            ::close(signalFd);
        }
        if (stopFd >= 0) {
            ::close(stopFd);
        }
    }

    void run(const Handler& handler) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        for (;;) {
            int n = ::poll(fds, 2, -1);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                signalfd_siginfo info{};
                if (::read(signalFd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
                    handler(static_cast<int>(info.ssi_signo));
                }
            }
        }
    }
};

SignalWaiter::SignalWaiter() : m_impl(std::make_unique<Impl>()) {}

SignalWaiter::~SignalWaiter() { stop(); }

bool SignalWaiter::start(Handler handler) {
    if (m_impl->thread.joinable()) {
        return true;
    }
    sigset_t set = agentSignals();
    m_impl->signalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    m_impl->stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_impl->signalFd < 0 || m_impl->stopFd < 0) {
        return false;
    }
    m_impl->thread = std::thread([impl = m_impl.get(), handler = std::move(handler)] { impl->run(handler); });
    return true;
}

void SignalWaiter::stop() {
    if (!m_impl->thread.joinable()) {
        return;
    }
    std::uint64_t one = 1;
    (void)::write(m_impl->stopFd, &one, sizeof(one));
    if (m_impl->thread.get_id() == std::this_thread::get_id()) {
        m_impl->thread.detach();
    } else {
        m_impl->thread.join();
    }
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGQUIT:
            return "SIGBREAK";
        case SIGABRT:
            return "SIGABRT";
        default: {
            const char* name = ::sigabbrev_np(signal);
            return name != nullptr ? name : "unknown signal";
        }
    }
}

}  // namespace talvern::platform
