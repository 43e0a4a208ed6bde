#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context/CallbackHandler.h"
#include "controller/SdpOption.h"
#include "http/HttpRouter.h"
#include "http/HttpService.h"
#include "portal/PortalMessages.h"

namespace talvern {
namespace platform {
class NamedLock;
}
class EventBusBase;
class SdpCapacitiesService;
class IRequest;
class IResponse;
class PluginsManager;
class RunTimeContext;
class SdpHttpServerContext;
class thread_pool;
class WebSocketManager;
class WebSocketServerGroup;
class IWebEventSink;
}  // namespace talvern

namespace talvern::sdp {

/// The agent: builds every service of the process from the construction record, starts them in a fixed
/// order and stops them again, and joins bus events to the web channels and the modules.
///
/// Each step of the construction, start and stop sequences is a private method of its own (servers and
/// their manager, certificates, the hosts entry, the request security context and chain, the router, the
/// event center, the event bus, the plug-ins manager, the RPC server group and the capacities service),
/// so that the sequences read as the list of their steps.
///
///     auto controller = std::make_shared<SdpAgentController>(option);
///     controller->start();
///     ...
///     controller->stop();
class SdpAgentController : public virtual HttpService,
                           public std::enable_shared_from_this<SdpAgentController> {
public:
    explicit SdpAgentController(const SdpOption& option);
    /// Stops, then releases the server manager, the servers and the runtime context in that order.
    ~SdpAgentController();
    SdpAgentController(const SdpAgentController&) = delete;
    SdpAgentController& operator=(const SdpAgentController&) = delete;

    /// Brings every service up. False when the HTTP servers cannot start or an unexpected error occurs;
    /// what was started keeps running until stop.
    bool start();
    /// Takes the services down; a second call only logs "already stopped".
    void stop();
    /// True when a task handed to the modules' worker pool runs within limit: the agent still works.
    /// Called from the service's watchdog thread between start and stop.
    bool isAlive(std::chrono::milliseconds limit);

    /// The HTTP entry: hands the request to the router.
    bool handleHttpMessage(IRequest* request, IResponse* response);
    /// "/v1/getServicePort": the port a service of the agent publishes (the agent's own HTTP port for
    /// "httpserver" when no port file says otherwise).
    void getServicePort(IRequest* req, IResponse* resp);
    /// The service slot of the request pipeline.
    void service(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                 std::shared_ptr<IResponse> response) override;

    /// The bus-event entry: forwards the event to the web channels and gives it to every module.
    /// False, doing nothing, when this host takes no events (event client switched off).
    bool handleEventMessage(const char* topic, const char* content);
    /// Passes an event to the web channels when its topic and content allow it.
    void fowardingEvent(const std::string& topic, const std::string& content);

    /// The plug-in load filter: true when the path may be loaded.
    bool moduleLoadFilter(const std::string& path);
    /// True when the file stem is on the abandoned list (any case).
    bool isAbandoned(const std::string& path);
    /// Reads the plug-in feature list next to the executable. False when it cannot be used.
    bool initPluginsFeature();
    /// Reads the plug-in feature list from another file (hosts with their own layout, tests).
    bool initPluginsFeature(const std::string& path);

    /// The RPC pipe name of this host, from how the plug-in directory ends.
    std::string getPipename();
    /// The first TCP port the RPC server tries, from how the plug-in directory ends.
    std::uint16_t getRpcStartingPort();

    /// Connects the event center that receives forwarded events (done while the HTTP router is built).
    void setEventCenter(std::shared_ptr<IWebEventSink> eventCenter);
    /// The registry handed to modules.
    std::shared_ptr<RunTimeContext> runTimeContext() const { return m_runTimeContext; }
    /// The port of the first HTTP server that bound; 0 until started.
    std::uint16_t httpPort() const { return m_httpPort; }

private:
    // Construction steps.
    void createRunTimeContext();
    void createHttpContext();
    void createServerManager();
    void loadSelfSignedCertificate();
    void loadCaOrganizationCertificate();
    void addLocalHostEntry();
    void createHttpServers();
    void registerHttpServers();
    void createEventBus();
    void registerServices();

    // Start steps.
    void initHttpRouter();
    void registerHttpMessageHandler();
    void installSecurityChain();
    void registerWebSocketCallback();
    void addRefererWhitelist();
    bool registerServerManager();
    void publishHttpPort();
    void loadPlugins();
    void notifyModulesWillLoad();
    void initRpcServer();
    void hookEventBus();
    void notifyModulesDidLoad();
    bool startServerGroup();
    bool startServerManager();
    void holdHttpMutex();
    void announceReady();

    // Stop steps.
    bool stopServerGroup();
    bool stopServerManager();
    void stopEventBus();
    void unloadPlugins();

    // Admission of a plug-in file that passed the name checks.
    bool isAdmittedByFeatureList(const std::string& path);
    bool hasMakerSignature(const std::string& path);

    SdpOption m_option;
    std::shared_ptr<RunTimeContext> m_runTimeContext;
    std::shared_ptr<EventBusBase> m_eventBus;
    CallbackHandler m_callbackHandler;
    std::uint16_t m_httpPort = 0;
    std::shared_ptr<WebSocketServerGroup> m_serverGroup;
    std::shared_ptr<WebSocketManager> m_serverManager;
    HttpRouter m_router;
    std::shared_ptr<PluginsManager> m_pluginsManager;
    std::shared_ptr<SdpCapacitiesService> m_capacitiesService;
    bool m_stopped = false;
    std::mutex m_routeMutex;  // guards route set-up
    std::shared_ptr<SdpHttpServerContext> m_httpContext;
    std::unique_ptr<platform::NamedLock> m_httpMutex;
    std::shared_ptr<IWebEventSink> m_eventCenter;
    std::vector<common::plugins_feature::Plugins> m_pluginsFeature;
    std::shared_ptr<thread_pool> m_threadPool;
    // The server certificates (PEM with key; the second followed by its chain), from their sources until
    // the servers take them.
    std::vector<unsigned char> m_selfSignedCertificate;
    std::vector<unsigned char> m_caOrganizationCertificate;
};

}  // namespace talvern::sdp
