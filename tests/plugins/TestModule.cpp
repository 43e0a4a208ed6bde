// A configurable test module. Each build sets TEST_GUID, TEST_PRIORITY, TEST_CAPACITY (or none) and
// TEST_URI (or none). It reports what happens to it through okavelTestJournal when the host provides one,
// and appends every bus event it is given ("topic content" lines) to the file named by
// $OKAVEL_TEST_EVENT_FILE in its host's environment.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "talvern/IModule.h"

extern "C" __attribute__((weak)) void okavelTestJournal(const char* entry);

namespace {

void note(const std::string& what) {
    if (okavelTestJournal != nullptr) {
        okavelTestJournal((std::string(TEST_GUID) + ":" + what).c_str());
    }
}

class TestModule : public talvern::IModule {
public:
    ~TestModule() override { note("destroyed"); }
    void moduleWillLoadFinished(talvern::IRunTimeContext*) override { note("willLoad"); }
    void moduleDidLoadFinished() override { note("didLoad"); }
    void moduleWillUnloadFinished() override { note("willUnload"); }
    void moduleDidUnloadFinished() override { note("didUnload"); }
    std::int32_t priority() override { return TEST_PRIORITY; }
    const char* guid() override { return TEST_GUID; }
    const char* capacity() override {
#ifdef TEST_CAPACITY
        return TEST_CAPACITY;
#else
        return nullptr;
#endif
    }
    const char** uris() override {
#ifdef TEST_URI
        static const char* list[] = {TEST_URI, nullptr};
        return list;
#else
        return nullptr;
#endif
    }
    void moduleDidRecivedEventMessage(const char* topic, const char* content) override {
        note(std::string("event ") + topic);
        const char* file = std::getenv("OKAVEL_TEST_EVENT_FILE");
        std::lock_guard lock(m_eventFileMutex);
        if (std::FILE* out = file != nullptr ? std::fopen(file, "a") : nullptr) {
            std::fprintf(out, "%s %s\n", topic, content != nullptr ? content : "");
            std::fclose(out);
        }
    }
    bool moduleDidRecivedHttpMessage(talvern::IRequest*, talvern::IResponse* response) override {
        note("http");
        if (response != nullptr) {
            response->next(false);  // done: the chain moves on
        }
        return true;
    }

private:
    std::mutex m_eventFileMutex;  // guards appends to the event file
};

}  // namespace

extern "C" __attribute__((visibility("default"))) talvern::IObject* CreateInstance() {
    return new TestModule();
}

extern "C" __attribute__((visibility("default"))) void FreeInstance(talvern::IObject* object) {
    delete object;
}
