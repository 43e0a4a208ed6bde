// An example plug-in: answers "/v1/hello", reports a capacity and counts the bus events it receives.
// It uses the public SDK only.
#include <talvern/IModule.h>
#include <talvern/IRequest.h>
#include <talvern/IResponse.h>
#include <talvern/IRunTimeContext.h>

#include <atomic>
#include <string>

namespace {

class HelloModule : public talvern::IModule {
public:
    void moduleWillLoadFinished(talvern::IRunTimeContext* context) override { m_context = context; }
    void moduleDidLoadFinished() override {}
    void moduleWillUnloadFinished() override {}
    void moduleDidUnloadFinished() override {}

    std::int32_t priority() override { return 0; }
    const char* guid() override { return "example-hello-7c1d2e34"; }
    const char* capacity() override { return R"({"name":"hello","version":"1.0.0"})"; }
    const char** uris() override {
        static const char* paths[] = {"/v1/hello", nullptr};
        return paths;
    }

    void moduleDidRecivedEventMessage(const char*, const char*) override { ++m_events; }

    bool moduleDidRecivedHttpMessage(talvern::IRequest*, talvern::IResponse* response) override {
        std::string body = R"({"code":0,"message":"hello from a plug-in","data":{"events":)" +
                           std::to_string(m_events.load()) + "}}";
        response->send(body.c_str(), false);
        // Done with the request: a zero priority hands it on, and past the last module the chain ends.
        response->next(true);
        return true;
    }

private:
    talvern::IRunTimeContext* m_context = nullptr;
    std::atomic<long> m_events{0};
};

}  // namespace

extern "C" __attribute__((visibility("default"))) talvern::IObject* CreateInstance() {
    return new HelloModule();
}

extern "C" __attribute__((visibility("default"))) void FreeInstance(talvern::IObject* object) {
    delete object;
}
