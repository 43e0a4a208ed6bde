#include "controller/SdpAgentController.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <fstream>
#include <future>

#include "context/RunTimeContext.h"
#include "controller/EventForwardingRule.h"
#include "controller/WebFront.h"
#include "eventbus/SdpBroadcastClient.h"
#include "eventbus/SdpBroadcastImpl.h"
#include "eventbus/SdpBroadcastService.h"
#include "eventcenter/IWebEventSink.h"
#include "eventcenter/WebSocketEventCenter.h"
#include "http/HttpOrigin.h"
#include "http/HttpServer.h"
#include "http/HttpServerContext.h"
#include "http/HttpServerGroup.h"
#include "http/HttpServerManager.h"
#include "http/tls/Certificate.h"
#include "http/websocket/WebSocketManager.h"
#include "http/websocket/WebSocketServer.h"
#include "http/websocket/WebSocketServerGroup.h"
#include "log/Check.h"
#include "log/Log.h"
#include "platform/NamedLock.h"
#include "platform/Ports.h"
#include "plugins/PluginsManager.h"
#include "portal/Json.h"
#include "portal/PortalMessages.h"
#include "rpc/RpcServerGroup.h"
#include "rpc/SdpCapacitiesService.h"
#include "signcheck/FileDigest.h"
#include "signcheck/JsonSignChk.h"
#include "signcheck/SignCheck.h"
#include "support/Hosts.h"
#include "support/PortFileStore.h"
#include "support/TextCase.h"
#include "support/ThreadPool.h"
#include "support/Timer.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "web/ServicePortLookup.h"
#include "websecurity/SdpHttpServerContext.h"

namespace talvern::sdp {
namespace {

namespace fs = std::filesystem;

using utilities::endsWithNoCase;
using utilities::lowerCase;

// Which plug-in host this process is, from how its plug-in directory ends; the first match wins.
struct HostIdentity {
    const char* ending;
    const char* host;
    const char* pipe;
    std::uint16_t rpcPort;
};

constexpr HostIdentity kHosts[] = {
    {"oKavelDaemon", "oKavelDaemon", "oKavelDaemon-8ec18c00-3768-4a5c-b2d7-da2a0f1b2167", 58630},
    {"plugin-daemon", "oKavelDaemon", "oKavelDaemon-8ec18c00-3768-4a5c-b2d7-da2a0f1b2167", 58630},
    {"oKavelCore", "oKavelCore", "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22", 56630},
    {"oKavelTunnel", "oKavelTunnel", "oKavelTunnel-c46a26c5-2cd4-4c20-9352-8efbb6358ea0", 57630},
};
constexpr std::uint16_t kUnknownHostRpcPort = 56630;

const HostIdentity* hostOf(const std::string& pluginDir) {
    for (const HostIdentity& identity : kHosts) {
        if (endsWithNoCase(pluginDir, identity.ending)) {
            return &identity;
        }
    }
    return nullptr;
}

// Plug-in libraries that are never loaded again, whatever their signature.
constexpr const char* kAbandonedPlugins[] = {"oKavelSddn"};

constexpr const char* kPluginsFeatureFile = "plugins_feature.json";

// The loopback web servers: two listeners, each trying every 11th port below 54663 (all moved by the
// port offset).
constexpr const char* kHttpAddress = "127.0.0.1";
constexpr std::uint16_t kFirstHttpPort = 54630;
constexpr std::uint16_t kSecondHttpPort = 54631;
constexpr std::uint16_t kHttpEndPort = 54663;
constexpr std::uint16_t kHttpPortStep = 11;
constexpr const char* kHttpPortFile = "httpserver";
// The loopback host name the agent's certificates name; it must resolve to 127.0.0.1.
constexpr const char* kAgentHostName = "local.okavel.talvern.com";
constexpr const char* kAgentProcessName = "oKavelAgent";
constexpr const char* kHttpMutex = "Global\\Http_{24C87D85-A6F4-4919-B795-BDDA1A45F9A2}";
constexpr const char* kPluginExtension = ".so";

// A moved port set is worth a line: it explains every port in the log that is not the usual one.
void logPortOffset() {
    std::error_code ec;
    const std::uint16_t offset = platform::portOffset(ec);
    if (ec) {
        OKV_LOG_WARN("{}; Reason: {}; HowTo: {}", "the port offset is ignored",
                     fmt::format("{} is not a number from 0 to {}", platform::kPortOffsetVariable,
                                 platform::kMaxPortOffset),
                     "unset it or give a smaller decimal number");
    } else if (offset != 0) {
        OKV_LOG_INFO("the fixed ports are moved by {} ({})", offset, platform::kPortOffsetVariable);
    }
}

}  // namespace

// The sequences below write their own log lines (so that the lines carry the name of the constructor, of
// start or of stop); each step is one private method, where its component joins.

SdpAgentController::SdpAgentController(const SdpOption& option)
    : HttpService(std::make_shared<SdpHttpServerContext>()),
      m_option(option),
      m_pluginsManager(std::make_shared<PluginsManager>()) {
    logPortOffset();
    OKV_LOG_INFO("create RunTimeContext object begin");
    createRunTimeContext();
    OKV_LOG_INFO("create RunTimeContext object end");
    createHttpContext();
    if (m_option.enableHttp) {
        OKV_LOG_INFO("create {} object", "WebSocketManager");
        createServerManager();
        OKV_LOG_INFO("get self sign CA server cert");
        loadSelfSignedCertificate();
        OKV_LOG_INFO("get CA organization server cert");
        loadCaOrganizationCertificate();
        OKV_LOG_INFO("add the agent's host name to the hosts file for 127.0.0.1");
        addLocalHostEntry();
        OKV_LOG_INFO("create {} object", "WebSocketServer");
        createHttpServers();
        registerHttpServers();
    }
    if (m_option.enableEventBus) {
        OKV_LOG_INFO("The eventbus runs in the service side mode");
    } else {
        OKV_LOG_INFO("The eventbus is run on the client mode");
    }
    createEventBus();
    registerServices();
    OKV_LOG_INFO("create SdpAgentController object successfully");
}

SdpAgentController::~SdpAgentController() {
    try {
        stop();
        OKV_LOG_INFO("http server manager object dtor begin");
        m_serverManager.reset();
        OKV_LOG_INFO("http server manager object dtor end");
        OKV_LOG_INFO("http servers object dtor begin");
        m_serverGroup.reset();
        OKV_LOG_INFO("http servers object dtor end");
        OKV_LOG_INFO("context dtor begin");
        m_runTimeContext.reset();
        OKV_LOG_INFO("context dtor end");
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("{}; Reason: {}", "SdpAgentController dtor failed", e.what());
    } catch (...) {
        OKV_LOG_ERROR("{}; Reason: {}", "SdpAgentController dtor failed", "unknown exception");
    }
}

bool SdpAgentController::start() {
    try {
        OKV_LOG_INFO("SdpAgentController enter start...");
        initPluginsFeature();
        m_threadPool = thread_pool::instance();
        m_threadPool->start();

        if (m_option.enableHttp) {
            initHttpRouter();
            OKV_LOG_INFO("initHttpRouter end");
            OKV_LOG_INFO("http servers register message handler:'SdpAgentController::handleMessage'");
            registerHttpMessageHandler();
            installSecurityChain();
            registerWebSocketCallback();
            addRefererWhitelist();
            if (!registerServerManager()) {
                OKV_LOG_ERROR("{}; Reason: {}", "http servers register server manager",
                              "can not find avalible tcp port for http server which address is 127.0.0.1");
                return false;
            }
            OKV_LOG_INFO("http servers register server manager");
            publishHttpPort();
        }

        OKV_LOG_INFO("PluginsManager load pluginDir:{}", m_option.pluginDir);
        loadPlugins();
        OKV_LOG_INFO("PluginsManager will load start");
        notifyModulesWillLoad();
        OKV_LOG_INFO("PluginsManager will load end");
        initRpcServer();
        hookEventBus();
        OKV_LOG_INFO("PluginsManager handle load finish start");
        notifyModulesDidLoad();
        OKV_LOG_INFO("PluginsManager handle load finish end");

        if (m_option.enableHttp) {
            OKV_LOG_INFO("http servers start");
            if (!startServerGroup()) {
                OKV_LOG_ERROR("m_serverGroup->start() fail");
                return false;
            }
            OKV_LOG_INFO("http servers start ok");
            OKV_LOG_INFO("http server manager start");
            if (!startServerManager()) {
                OKV_LOG_ERROR("m_serverManager->start() fail");
                return false;
            }
            OKV_LOG_INFO("http server manager start ok");
            holdHttpMutex();
        }
        if (m_option.enableEventBus) {
            announceReady();
        }
        return true;
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("{}; Reason: {}; HowTo: {}", "Unknown exception,then you can not run this agent ",
                      e.what(), "check code logic");
    } catch (...) {
        OKV_LOG_ERROR("{}; Reason: {}; HowTo: {}", "Unknown exception,then you can not run this agent ",
                      "unknown exception", "check code logic");
    }
    return false;
}

bool SdpAgentController::isAlive(std::chrono::milliseconds limit) {
    if (m_stopped || !m_threadPool) {
        return false;
    }
    auto answered = std::make_shared<std::promise<void>>();
    std::future<void> answer = answered->get_future();
    thread_pool::strand probe(m_threadPool);
    probe.post([answered] { answered->set_value(); });
    return answer.wait_for(limit) == std::future_status::ready;
}

void SdpAgentController::stop() {
    if (m_stopped) {
        OKV_LOG_INFO("already stopped");
        return;
    }
    if (m_option.enableHttp) {
        OKV_LOG_INFO("http servers stop");
        if (!stopServerGroup()) {
            OKV_LOG_ERROR("m_serverGroup->stop() fail,then you can not use http api");
        }
        OKV_LOG_INFO("http servers stop ok");
        OKV_LOG_INFO("http server manager stop");
        if (!stopServerManager()) {
            OKV_LOG_ERROR("m_serverManager->stop() fail,then you can not use http api");
        }
        OKV_LOG_INFO("http server manager stop ok");
    }
    OKV_LOG_INFO("Stop eventbus");
    stopEventBus();
    OKV_LOG_INFO("Stop eventbus finish");
    OKV_LOG_INFO("plugin manager unload");
    unloadPlugins();
    OKV_LOG_INFO("m_pluginsManager->moduleWillUnloadFinished ok");
    if (m_threadPool) {
        m_threadPool->stop();
    }
    m_stopped = true;
}

// ---- construction steps -------------------------------------------------------------------------

void SdpAgentController::createRunTimeContext() {
    m_runTimeContext = std::make_shared<RunTimeContext>(m_option.pluginCmd, [] {
        return std::static_pointer_cast<IObject>(std::make_shared<rpc::RpcServerGroup>());
    });
    m_runTimeContext->registService(std::string("threadpool"),
                                    std::static_pointer_cast<void>(thread_pool::instance()));
}

void SdpAgentController::createHttpContext() {
    // The request pipeline was given the security context when the service was built: every chain node
    // receives this one object.
    m_httpContext = std::dynamic_pointer_cast<SdpHttpServerContext>(HttpService::context());
    OKV_ENSURE(m_httpContext != nullptr, "can't get the correct SdpHttpServerContext object");
}

void SdpAgentController::createServerManager() { m_serverManager = std::make_shared<WebSocketManager>(); }

void SdpAgentController::loadSelfSignedCertificate() {
    Certificate certificate(static_cast<int>(CertificateKind::MemSelf));
    certificate.init();
    OKV_ENSURE(!certificate.text().empty(), "Fail to get cert with default cert type");
    m_selfSignedCertificate = certificate.bytes();
}

void SdpAgentController::loadCaOrganizationCertificate() {
    // The built-in certificate first; a usable one on disk (a download of an earlier run) next.
    Certificate builtIn(static_cast<int>(CertificateKind::MemCA));
    builtIn.init();
    if (!builtIn.isExpired(false)) {
        m_caOrganizationCertificate = builtIn.bytes();
        return;
    }
    Certificate onDisk(static_cast<int>(CertificateKind::Disk));
    onDisk.init();
    if (!onDisk.isExpired(false)) {
        m_caOrganizationCertificate = onDisk.bytes();
        return;
    }
    // Neither is valid now: serve what there is rather than nothing, and say so.
    m_caOrganizationCertificate = !builtIn.text().empty() ? builtIn.bytes() : onDisk.bytes();
    OKV_LOG_WARN(
        "{}; Reason: {}", "no valid CA organization server cert",
        m_caOrganizationCertificate.empty() ? "none could be read" : "it is expired or not yet valid");
}

void SdpAgentController::addLocalHostEntry() {
    // In the background: a hosts file held by another program is retried on the timer.
    addHostAndCallback(kHttpAddress, kAgentHostName, [](bool added) {
        if (added) {
            OKV_LOG_INFO("the agent's host name {} resolves to {}", kAgentHostName, kHttpAddress);
        } else {
            OKV_LOG_ERROR("{}; Reason: {}", "the agent's host name is not in the hosts file",
                          "the hosts file could not be changed");
        }
    });
}

void SdpAgentController::createHttpServers() {
    using platform::fixedPort;
    auto selfSigned =
        std::make_shared<WebSocketServer>(kHttpAddress, fixedPort(kFirstHttpPort), fixedPort(kHttpEndPort),
                                          kHttpPortStep, std::move(m_selfSignedCertificate), 0);
    auto caOrganization =
        std::make_shared<WebSocketServer>(kHttpAddress, fixedPort(kSecondHttpPort), fixedPort(kHttpEndPort),
                                          kHttpPortStep, std::move(m_caOrganizationCertificate), 2);
    m_serverGroup = std::make_shared<WebSocketServerGroup>();
    m_serverGroup->addServer("httpServerWithSelfSignCaCert", selfSigned, true);
    m_serverGroup->addServer("httpServerWithCaOrganizationCert", caOrganization, false);
}

void SdpAgentController::registerHttpServers() {
    // Each name hands out the face it promises: a module casts "HttpServer" to HttpServerGroup and
    // "WebSocketServer" to IWebSocketServer, which are different sub-objects of the group.
    m_runTimeContext->registService(
        std::string("HttpServer"),
        std::static_pointer_cast<void>(std::static_pointer_cast<HttpServerGroup>(m_serverGroup)));
    m_runTimeContext->registService(
        std::string("WebSocketServer"),
        std::static_pointer_cast<void>(std::static_pointer_cast<IWebSocketServer>(m_serverGroup)));
}

void SdpAgentController::createEventBus() {
    if (m_option.enableEventBus) {
        m_eventBus = std::make_shared<rpc::thrift::SdpBroadcastImpl>();
    } else {
        m_eventBus = std::make_shared<SdpBroadcastClient>();
    }
}

void SdpAgentController::registerServices() {
    if (m_httpContext) {
        // Modules see the whitelist operations: the entry points at that interface of the context.
        std::shared_ptr<ISdpHttpServerContext> security = m_httpContext;
        m_runTimeContext->registService(std::string("SdpHttpContext"),
                                        std::shared_ptr<void>(security, static_cast<void*>(security.get())));
    }
    if (m_eventBus) {
        m_runTimeContext->registService(std::string("EventBus"), std::static_pointer_cast<void>(m_eventBus));
    }
    m_runTimeContext->registService("srvDispatcher",
                                    static_cast<void*>(static_cast<IDispatcher*>(&m_callbackHandler)));
    m_runTimeContext->registService("srvHandler",
                                    static_cast<void*>(static_cast<IHandler*>(&m_callbackHandler)));
}

// ---- start steps --------------------------------------------------------------------------------

void SdpAgentController::initHttpRouter() {
    std::lock_guard lock(m_routeMutex);
    auto eventCenter = std::make_shared<WebSocketEventCenter>(utilities::Timer::instance());
    setEventCenter(eventCenter);
    std::weak_ptr<SdpAgentController> weak = weak_from_this();
    webfront::addAgentRoutes(
        m_router, eventCenter,
        [weak](IRequest* req, IResponse* resp) {
            if (auto controller = weak.lock()) {
                controller->getServicePort(req, resp);
            }
        },
        m_pluginsManager);
}

void SdpAgentController::registerHttpMessageHandler() {
    m_serverGroup->registerMessageHandler(HttpService::messageHandler());
}

void SdpAgentController::installSecurityChain() {
    webfront::installSecurityChain(*this, *m_serverGroup, m_httpContext);
}

// A web client subscribes to events over its socket: it sends a WsEventsReq whose "path" is the events
// route ("/v1/service/events"); the event center answers with the ready notification (and a replay) and
// then pushes every event.
void SdpAgentController::registerWebSocketCallback() {
    webfront::subscribeSocketsToEvents(*m_serverGroup,
                                       std::dynamic_pointer_cast<WebSocketEventCenter>(m_eventCenter));
}

void SdpAgentController::addRefererWhitelist() { webfront::addRefererWhitelist(*m_httpContext); }

bool SdpAgentController::registerServerManager() {
    m_serverGroup->registerServerManager(m_serverManager);
    return !m_serverGroup->servers().empty();
}

void SdpAgentController::publishHttpPort() {
    std::shared_ptr<HttpServer> server = m_serverGroup->defaultServer();
    m_httpPort = server ? server->port() : 0;
    std::error_code ec;
    if (!utilities::PortFileStore::instance()->write(kHttpPortFile, m_httpPort, ec)) {
        OKV_LOG_ERROR("{}; Reason: {}", "write the http port file failed", ec.message());
    }
    OKV_LOG_INFO("http server start successfully");
    OKV_LOG_INFO("{} addr:127.0.0.1 port:{}", "httpServer", m_httpPort);
}

void SdpAgentController::loadPlugins() {
    m_pluginsManager->load(
        m_option.pluginDir,
        [](const std::error_code& ec, const std::string& path) {
            if (ec) {
                OKV_LOG_ERROR("load dynamic library: '{}' failed, error({}:{}): {}{}", path, ec.value(),
                              ec.category().name(), ec.message(), "");
            } else {
                OKV_LOG_INFO("load dynamic library: '{}' success.", path);
            }
        },
        [this](const std::string& path) { return moduleLoadFilter(path); });
}

void SdpAgentController::notifyModulesWillLoad() {
    m_pluginsManager->moduleWillLoadFinished(m_runTimeContext.get());
}

void SdpAgentController::initRpcServer() {
    auto* pRpcServer = static_cast<rpc::RpcServerGroup*>(
        static_cast<IRpcServer*>(m_runTimeContext->getService("RpcServer")));
    OKV_ENSURE_OR_RETURN(pRpcServer != nullptr, "pRpcServer equal nullptr");
    // Only the agent itself and maker-signed processes are served, on both transports.
    pRpcServer->requirePeerAuthentication();
    std::shared_ptr<PluginsManager> plugins = m_pluginsManager;
    m_capacitiesService = std::make_shared<SdpCapacitiesService>([plugins] { return plugins->capacities(); });
    pRpcServer->registerProcessor(SdpCapacitiesService::kServiceName,
                                  createSdpCapacitiesProcessor(m_capacitiesService));
    bool busStarted = false;
    if (m_eventBus) {
        OKV_LOG_INFO("Start the event bus");
        busStarted = m_eventBus->start();
        OKV_LOG_INFO("Start the event bus return {}", busStarted ? "success" : "failure");
    }
    if (busStarted && m_option.enableEventBus) {
        auto server = std::dynamic_pointer_cast<rpc::thrift::SdpBroadcastImpl>(m_eventBus);
        OKV_ENSURE(
            server != nullptr,
            "The startup message bus service must ensure that the eventbus object can be converted to the "
            "sdpbroadcastimpl");
        if (server) {
            pRpcServer->registerProcessor(rpc::thrift::kSdpBroadcastServiceName,
                                          rpc::thrift::createSdpBroadcastProcessor(server));
        }
    }
    OKV_LOG_INFO("rpc server start");
    const std::string portFile = m_option.pluginPath + "/thrift";
    const std::uint16_t port = getRpcStartingPort();
    const std::string pipe = getPipename();
    OKV_LOG_INFO("rpc server port file name:{}, starting port: {}, pipe name: {}", portFile, port, pipe);
    if (!pRpcServer->start(portFile, port, pipe)) {
        OKV_LOG_ERROR("{}; Reason: {}", "rpc server start", "the RPC servers could not start");
    }
}

void SdpAgentController::hookEventBus() {
    if (!m_eventBus) {
        return;
    }
    std::weak_ptr<SdpAgentController> weak = weak_from_this();
    m_eventBus->setEventHandler([weak](const char* topic, const char* content) {
        auto controller = weak.lock();
        return controller ? controller->handleEventMessage(topic, content) : false;
    });
}

void SdpAgentController::notifyModulesDidLoad() { m_pluginsManager->moduleDidLoadFinished(); }

bool SdpAgentController::startServerGroup() { return m_serverGroup->start(); }

bool SdpAgentController::startServerManager() {
    m_serverManager->start();
    return true;
}

void SdpAgentController::holdHttpMutex() {
    m_httpMutex = std::make_unique<platform::NamedLock>();
    std::error_code ec;
    if (!m_httpMutex->create(kHttpMutex, ec)) {
        OKV_LOG_WARN("{}; Reason: {}@{} --->>> {}", "create http server mutex failed...", ec.value(),
                     ec.category().name(), ec.message());
    }
}

void SdpAgentController::announceReady() {
    if (m_eventBus) {
        m_eventBus->broadcast(std::string("statusEvent|ready"), std::string(R"({"event":"ready"})"));
    }
}

// ---- stop steps ---------------------------------------------------------------------------------

bool SdpAgentController::stopServerGroup() { return m_serverGroup->stop(); }

bool SdpAgentController::stopServerManager() {
    m_serverManager->stop();
    return true;
}

void SdpAgentController::stopEventBus() {
    if (m_eventBus) {
        m_eventBus->stop();
    }
}

void SdpAgentController::unloadPlugins() { m_pluginsManager->moduleWillUnloadFinished(); }

// ---- HTTP ---------------------------------------------------------------------------------------

void SdpAgentController::service(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest> request,
                                 std::shared_ptr<IResponse> response) {
    handleHttpMessage(request.get(), response.get());
}

bool SdpAgentController::handleHttpMessage(IRequest* request, IResponse* response) {
    OKV_ENSURE_OR_RETURN(request != nullptr, "invalid param request nullptr", false);
    OKV_ENSURE_OR_RETURN(response != nullptr, "invalid param response nullptr", false);
    m_router.route(request, response);
    return true;
}

void SdpAgentController::getServicePort(IRequest* req, IResponse* resp) {
    OKV_ENSURE(nullptr != req, "invalid param req nullptr");
    OKV_ENSURE(nullptr != resp, "invalid param resp nullptr");
    if (req == nullptr || resp == nullptr || dynamic_cast<HttpOrigin*>(req->origin()) == nullptr) {
        OKV_LOG_ERROR("[traceid:{}] {}", req ? req->traceId() : "", "the request has no http origin");
        return;
    }
    portal::get_service_port_req::GetServicePortReq request;
    portal::from_json(req->content(), request);
    portal::get_service_port_resp::GetServicePortResp reply;
    reply.code = 0;
    reply.message = "successfully";
    reply.data.addr = kHttpAddress;
    std::error_code ec;
    std::uint16_t port = lookupServicePort(kAgentProcessName, request.data.serviceName, ec);
    if (ec) {
        OKV_LOG_ERROR("[traceid:{}] {}; Reason: code:{} msg:{}; HowTo: {}", req->traceId(),
                      "getServicePort fail", ec.value(), ec.message(), "please check port file");
    }
    if (port == 0 && request.data.serviceName == kHttpPortFile) {
        port = m_httpPort;
    }
    reply.data.port = port;
    const std::string body = portal::to_json(reply);
    resp->send(body.c_str(), true);
}

// ---- events -------------------------------------------------------------------------------------

bool SdpAgentController::handleEventMessage(const char* topic, const char* content) {
    OKV_ENSURE(topic != nullptr && content != nullptr, "invalid param");
    if (topic == nullptr || content == nullptr || !m_option.enableEventClient) {
        return false;
    }
    fowardingEvent(topic, content);
    // Contents can be large and private: they are written only when trace output is on.
    if (log::shouldLog(log::Level::trace)) {
        OKV_LOG_DEBUG("handleEvent topic:{} content:{}", topic, content);
    } else {
        OKV_LOG_DEBUG("handleEvent topic:{}", topic);
    }
    m_pluginsManager->moduleDidRecivedEventMessage(topic, content);
    return true;
}

void SdpAgentController::fowardingEvent(const std::string& topic, const std::string& content) {
    std::shared_ptr<IWebEventSink> center = m_eventCenter;
    if (!center) {
        return;
    }
    switch (EventForwardingRule::judge(topic, content)) {
        case EventForwardingRule::Verdict::blocked:
            OKV_LOG_DEBUG("The event {} is forbidden to be forwarded to HTTP and websocket channels", topic);
            return;
        case EventForwardingRule::Verdict::unlisted:
            return;
        case EventForwardingRule::Verdict::notJson:
            OKV_LOG_WARN(
                "event({}) is Non-json format events prohibit forwarding to HTTP or websocket channels{}",
                topic, ", content:" + content);
            return;
        case EventForwardingRule::Verdict::badEventField:
            OKV_LOG_WARN(
                "The event({}) content format is illegal, the event field is not a string type, or the event "
                "field is an empty string, or no event field is available{}",
                topic, ", content:" + content);
            return;
        case EventForwardingRule::Verdict::always:
        case EventForwardingRule::Verdict::forward:
            break;
    }
    try {
        center->broadcast(topic, content);
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("{}; Reason: {}", "forward event " + topic + " failed", e.what());
    } catch (...) {
        OKV_LOG_ERROR("{}; Reason: {}", "forward event " + topic + " failed", "unknown exception");
    }
}

void SdpAgentController::setEventCenter(std::shared_ptr<IWebEventSink> eventCenter) {
    m_eventCenter = std::move(eventCenter);
}

// ---- host identity ------------------------------------------------------------------------------

std::string SdpAgentController::getPipename() {
    if (const HostIdentity* identity = hostOf(m_option.pluginDir)) {
        OKV_LOG_INFO("The current process is {}. using '{}' as the pipe name", identity->host,
                     identity->pipe);
        return identity->pipe;
    }
    OKV_LOG_INFO("The current process is Unknown. the pipe name is empty");
    return {};
}

std::uint16_t SdpAgentController::getRpcStartingPort() {
    if (const HostIdentity* identity = hostOf(m_option.pluginDir)) {
        const std::uint16_t port = platform::fixedPort(identity->rpcPort);
        OKV_LOG_INFO("The current process is {}. using '{}' as the server port", identity->host, port);
        return port;
    }
    const std::uint16_t port = platform::fixedPort(kUnknownHostRpcPort);
    OKV_LOG_INFO("The current process is Unknown. the server port is {}", port);
    return port;
}

// ---- plug-in admission --------------------------------------------------------------------------

bool SdpAgentController::initPluginsFeature() { return initPluginsFeature(kPluginsFeatureFile); }

bool SdpAgentController::initPluginsFeature(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        OKV_LOG_WARN("{}; Reason: Open file(%s) failed", "initPluginsFeature return false");
        return false;
    }
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    common::plugins_feature::PluginsFeature feature;
    if (!JsonSignChk::jsonSignCheck(content) || !portal::from_json(content, feature)) {
        OKV_LOG_WARN("{}; Reason: The json file({}) may be falsify", "initPluginsFeature return false", path);
        return false;
    }
    m_pluginsFeature = std::move(feature.plugins);
    OKV_LOG_INFO("initPluginsFeature exec finish...");
    return true;
}

bool SdpAgentController::moduleLoadFilter(const std::string& path) {
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (!ec && fs::is_directory(status)) {
        OKV_LOG_INFO("accept directory:{}", path);
        return true;
    }
    if (isAbandoned(path)) {
        return false;
    }
    if (lowerCase(fs::path(path).extension().string()) != kPluginExtension) {
        OKV_LOG_INFO("discard file:{}", path);
        return false;
    }
    if (!isAdmittedByFeatureList(path) && !hasMakerSignature(path)) {
        OKV_LOG_WARN("discard {}; Reason: {}", path,
                     "neither listed in the plug-in feature list nor signed by the maker");
        return false;
    }
    OKV_LOG_INFO("Plugin({}) is valid, will load", path);
    return true;
}

bool SdpAgentController::isAbandoned(const std::string& path) {
    std::string stem = lowerCase(fs::path(path).stem().string());
    for (const char* abandoned : kAbandonedPlugins) {
        if (stem == lowerCase(abandoned)) {
            OKV_LOG_INFO("discard {}; Reason: match {} in abandoned list", path, abandoned);
            return true;
        }
    }
    return false;
}

bool SdpAgentController::isAdmittedByFeatureList(const std::string& path) {
    if (m_pluginsFeature.empty()) {
        return false;
    }
    const std::string name = lowerCase(fs::path(path).filename().string());
    std::string md5;
    std::uint64_t size = 0;
    std::error_code ec;
    if (!signCheck::fileMd5Hex(path, md5, size, ec)) {
        return false;
    }
    md5 = lowerCase(md5);
    // Any entry with the file's name and digest admits it: a list may name several builds of one plug-in.
    // Newest entries stand last, so the scan starts there.
    for (auto it = m_pluginsFeature.rbegin(); it != m_pluginsFeature.rend(); ++it) {
        if (it->name == name && it->md5 == md5) {
            return true;
        }
    }
    return false;
}

bool SdpAgentController::hasMakerSignature(const std::string& path) {
    return signCheck::windows::hasTalvernSignA(path);
}

}  // namespace talvern::sdp
