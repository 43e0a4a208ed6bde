#include "platform/ThreadSignalStack.h"

#include <signal.h>
#include <sys/mman.h>

namespace talvern::platform {
namespace {

// Room for the dump writer's frames and buffers, whatever the thread was doing.
constexpr std::size_t kStackSize = 64 * 1024;

class SignalStack {
public:
    SignalStack() {
        void* memory =
            ::mmap(nullptr, kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            return;
        }
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = kStackSize;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(memory, kStackSize);
            return;
        }
        m_memory = memory;
    }
    ~SignalStack() {
        if (m_memory == nullptr) {
            return;
        }
        // Off the stack before its memory goes; a sanitizer may have put its own there meanwhile.
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_memory) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            ::sigaltstack(&off, nullptr);
        }
        ::munmap(m_memory, kStackSize);
    }
    SignalStack(const SignalStack&) = delete;
    SignalStack& operator=(const SignalStack&) = delete;

    bool installed() const { return m_memory != nullptr; }

private:
    void* m_memory = nullptr;
};

}  // namespace

bool installThreadSignalStack() {
    thread_local SignalStack stack;
    return stack.installed();
}

}  // namespace talvern::platform
