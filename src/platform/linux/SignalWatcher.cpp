#include "platform/SignalWatcher.h"
#include "platform/ThreadSignalStack.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace talvern::platform {

struct SignalWatcher::State {
    sigset_t set{};
    Handler handler;
    int signalFd = -1;
    int stopFd = -1;
    std::thread thread;

    void run() const {
        pollfd watched[2] = {{signalFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        for (;;) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (watched[1].revents != 0) {
                return;
            }
            if ((watched[0].revents & POLLIN) == 0) {
                continue;
            }
            signalfd_siginfo info{};
            ssize_t got = ::read(signalFd, &info, sizeof(info));
            if (got == static_cast<ssize_t>(sizeof(info)) && handler) {
                try {
                    handler(static_cast<int>(info.ssi_signo));
                } catch (...) {
                    // the handler reports its own failures; the watcher keeps serving signals
                }
            }
        }
    }

    void closeAll() {
        if (signalFd >= 0) {
            ::close(signalFd);
            signalFd = -1;
        }
        if (stopFd >= 0) {
            ::close(stopFd);
            stopFd = -1;
        }
    }
};

SignalWatcher::SignalWatcher(std::vector<int> signals, Handler handler) : m_state(std::make_unique<State>()) {
    sigemptyset(&m_state->set);
    for (int signalNumber : signals) {
        sigaddset(&m_state->set, signalNumber);
    }
    m_state->handler = std::move(handler);
    pthread_sigmask(SIG_BLOCK, &m_state->set, nullptr);
}

SignalWatcher::~SignalWatcher() { stop(); }

bool SignalWatcher::start(std::error_code& ec) {
    ec.clear();
    if (m_state->thread.joinable()) {
        return true;
    }
    m_state->signalFd = ::signalfd(-1, &m_state->set, SFD_CLOEXEC | SFD_NONBLOCK);
    m_state->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_state->signalFd < 0 || m_state->stopFd < 0) {
        ec = std::error_code(errno, std::generic_category());
        m_state->closeAll();
        return false;
    }
    try {
        m_state->thread = makeThread([state = m_state.get()] { state->run(); });
    } catch (const std::system_error& e) {
        ec = e.code();
        m_state->closeAll();
        return false;
    }
    return true;
}

void SignalWatcher::stop() {
    if (!m_state->thread.joinable()) {
        return;
    }
    std::uint64_t one = 1;
    ssize_t written = ::write(m_state->stopFd, &one, sizeof(one));
    (void)written;
    m_state->thread.join();
    m_state->closeAll();
}

}  // namespace talvern::platform
