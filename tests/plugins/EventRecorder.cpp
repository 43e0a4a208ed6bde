// A plug-in that writes every bus event it is given, one "topic content" line each, to the file named by
// $OKAVEL_TEST_EVENT_FILE in its host's environment: the system test reads what each host's plug-ins got.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "talvern/IModule.h"

namespace {

class EventRecorder : public talvern::IModule {
public:
    void moduleWillLoadFinished(talvern::IRunTimeContext*) override {}
    void moduleDidLoadFinished() override {}
    void moduleWillUnloadFinished() override {}
    void moduleDidUnloadFinished() override {}
    std::int32_t priority() override { return 0; }
    const char* guid() override { return "event-recorder"; }
    const char* capacity() override { return nullptr; }
    const char** uris() override { return nullptr; }
    void moduleDidRecivedEventMessage(const char* topic, const char* content) override {
        const char* file = std::getenv("OKAVEL_TEST_EVENT_FILE");
        if (file == nullptr) {
            return;
        }
        std::lock_guard lock(m_mutex);
        if (std::FILE* out = std::fopen(file, "a")) {
            std::fprintf(out, "%s %s\n", topic, content != nullptr ? content : "");
            std::fclose(out);
        }
    }
    bool moduleDidRecivedHttpMessage(talvern::IRequest*, talvern::IResponse*) override { return false; }

private:
    std::mutex m_mutex;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) talvern::IObject* CreateInstance() {
    return new EventRecorder();
}

extern "C" __attribute__((visibility("default"))) void FreeInstance(talvern::IObject* object) {
    delete object;
}
