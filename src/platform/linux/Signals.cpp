#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>
#include <string.h>

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
