#include "http/HttpServer.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>
#include <sstream>
#include <thread>

#include "catalogue/MessageCatalogue.h"
#include "http/HttpLogPolicy.h"
#include "http/HttpOrigin.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpServerContext.h"
#include "http/HttpServerManager.h"
#include "http/Refusal.h"
#include "http/SmallJson.h"
#include "http/engine/Engine.h"
#include "log/Check.h"
#include "log/Log.h"
#include "log/Logger.h"
#include "platform/Paths.h"
#include "portal/Json.h"
#include "portal/PortalMessages.h"
#include "support/TextCase.h"

namespace talvern {

namespace {

constexpr const char* kTag = "HttpServer";
constexpr int kBindPasses = 3;
constexpr int kRefusalCode = 11119003;
constexpr std::int32_t kInvalidRequestMessage = 6;

/// The first origin of a body's "addr" member; nullopt when the body is not JSON or has no such text.
std::optional<std::string> addrOrigin(const char* body) {
    http::SmallJson json;
    auto& document = json.document();
    document.Parse(body != nullptr ? body : "");
    if (document.HasParseError() || !document.IsObject()) {
        return std::nullopt;
    }
    const auto member = document.FindMember("addr");
    if (member == document.MemberEnd() || !member->value.IsString()) {
        return std::nullopt;
    }
    const std::string_view addr(member->value.GetString(), member->value.GetStringLength());
    return std::string(addr.substr(0, addr.find("\r\n")));
}

}  // namespace

HttpServer::HttpServer(std::string address, std::uint16_t firstPort, std::uint16_t endPort,
                       std::uint16_t step, std::vector<unsigned char> certificate, int certificateMode)
    : m_address(std::move(address)),
      m_firstPort(firstPort),
      m_endPort(endPort),
      m_step(step),
      m_certificateMode(certificateMode),
      m_certificate(std::move(certificate)) {
    std::string dir;
    std::error_code ec;
    if (!platform::applicationDataDir(dir, ec)) {
        OKV_LOG_TAG_ERROR(kTag, "getAppdataPath failed.");
        return;
    }
    try {
        m_serverLog = std::make_shared<IndependentLogObj>();
        m_serverLog->initLogNameWithDir("oKavelHttpServer.log", dir + "logs", false, false);
    } catch (const std::exception& e) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "open oKavelHttpServer.log failed", e.what());
        m_serverLog.reset();
    }
}

HttpServer::~HttpServer() = default;

bool HttpServer::setReferer(const std::string& referer) {
    auto normalised = utilities::lowerCase(HttpServerContext::normaliseRefererText(referer));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_referer = std::move(normalised);
    return true;
}

std::string HttpServer::getReferer() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_referer;
}

bool HttpServer::clearReferer() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_referer.clear();
    return true;
}

std::shared_ptr<HttpServerManager> HttpServer::manager() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_manager.lock();
}

bool HttpServer::closeConnections() {
    if (auto manager = this->manager()) {
        manager->post([](engine::mg_connection* c, int, void*) {
            if ((c->flags & engine::MG_F_LISTENING) == 0) {
                c->closeImmediately();
            }
        });
    }
    return true;
}

bool HttpServer::start() { return true; }

bool HttpServer::stop() { return true; }

void HttpServer::setCertificateFiles(std::string certificatePath, std::string keyPath) {
    m_certificatePath = std::move(certificatePath);
    m_keyPath = std::move(keyPath);
}

void HttpServer::setPreflightGrant(PreflightGrant grant) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_preflightGrant = std::move(grant);
}

bool HttpServer::registerMessageHandler(MessageHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto handlers = std::make_shared<std::vector<MessageHandler>>(*m_handlers);
    handlers->push_back(std::move(handler));
    m_handlers = std::move(handlers);
    return true;
}

bool HttpServer::bindOnce(HttpServerManager& manager, std::uint16_t port) {
    if (m_bindObserver) {
        m_bindObserver(port);
    }
    engine::mg_bind_opts opts;
    opts.user_data = this;
    if (!m_certificatePath.empty() && !m_keyPath.empty()) {
        opts.ssl_cert = m_certificatePath.c_str();
        opts.ssl_key = m_keyPath.c_str();
    }
    std::string reason;
    opts.error_string = &reason;
    // Events reach the server only while it exists: a server that left its group (or was destroyed
    // first) leaves a listener behind that must not call into it.
    engine::mg_event_handler_t handler;
    if (auto self = weak_from_this(); !self.expired()) {
        handler = [self](engine::mg_connection* c, int event, void* data) {
            if (auto server = self.lock()) {
                server->onEvent(c, event, data);
            }
        };
    } else {
        handler = [](engine::mg_connection* c, int event, void* data) {
            static_cast<HttpServer*>(c->user_data)->onEvent(c, event, data);
        };
    }
    auto* listener = manager.engine()->bind(m_address + ":" + std::to_string(port), std::move(handler), opts);
    if (listener == nullptr) {
        OKV_LOG_TAG_DEBUG(kTag, "bind {}:{} failed: {}", m_address, port, reason);
        return false;
    }
    m_listener = listener;
    m_port = listener->localPort();
    return true;
}

bool HttpServer::registerServerManager(const std::shared_ptr<HttpServerManager>& pManager,
                                       std::string& error) {
    OKV_ENSURE(nullptr != pManager, "pManager can not be null");
    if (!pManager) {
        error.clear();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_manager = pManager;
    }
    bool bound = false;
    if (m_step == 0) {
        bound = bindOnce(*pManager, m_firstPort);
    } else {
        for (int pass = 0; pass < kBindPasses && !bound; ++pass) {
            if (pass > 0) {
                std::this_thread::sleep_for(m_bindPassPause);
            }
            for (int port = m_firstPort; port < m_endPort && !bound; port += m_step) {
                bound = bindOnce(*pManager, static_cast<std::uint16_t>(port));
            }
        }
    }
    if (!bound) {
        error.clear();
        return false;
    }
    // TLS is in place before the listener accepts anyone, so it never answers in plain text.
    if (!m_certificate.empty()) {
        std::string reason;
        if (!pManager->engine()->setSslFromMemory(m_listener, m_certificate, m_certificateMode == 2,
                                                  reason)) {
            OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "load certificate into listener failed", reason);
            error.clear();
            return false;
        }
    }
    pManager->engine()->setProtocolHttpWebsocket(m_listener);
    return true;
}

std::uint32_t HttpServer::nextRequestNumber() {
    static std::atomic<std::uint32_t> counter{0};
    std::uint32_t number = ++counter;
    while (number == 0) {
        number = ++counter;
    }
    return number;
}

void HttpServer::onEvent(engine::mg_connection* nc, int event, void* p) {
    OKV_ENSURE_OR_RETURN(nullptr != nc, "nc can not be null");
    OKV_ENSURE_OR_RETURN(nullptr != p, "p can not be null");
    switch (event) {
        case engine::MG_EV_HTTP_REQUEST:
            dispatchRequest(nc, p);
            break;
        case engine::MG_EV_CLOSE:
            OKV_LOG_TAG_DEBUG(kTag, "event close");
            nc->request_number = 0;
            break;
        default:
            break;
    }
}

void HttpServer::dispatchRequest(engine::mg_connection* nc, void* p) {
    auto manager = this->manager();
    if (!manager) {
        return;
    }
    nc->request_number = nextRequestNumber();
    auto* request = new HttpRequest(static_cast<engine::http_message*>(p), nc);
    auto* response = new HttpResponse(request, nc, nc->request_number, manager);
    if (!preHandleMessage(request, response)) {
        return;
    }
    std::shared_ptr<const std::vector<MessageHandler>> handlers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handlers = m_handlers;
    }
    const std::string traceId = request->traceId();  // the pair may be gone once a handler answered
    if (m_verbose) {
        OKV_LOG_TAG_DEBUG(kTag, "[traceid:{}] {}", traceId, "evtHandler http request begin");
    }
    for (const auto& handler : *handlers) {
        try {
            if (handler(request, response)) {
                break;
            }
        } catch (const std::exception& e) {
            OKV_LOG_TAG_ERROR(kTag, "[traceid:{}] {}; Reason: {}", traceId, "message handler failed",
                              e.what());
            break;
        }
    }
    if (m_verbose) {
        OKV_LOG_TAG_DEBUG(kTag, "[traceid:{}] {}", traceId, "evtHandler http request end");
    }
}

bool HttpServer::preHandleMessage(IRequest* request, IResponse* response) {
    OKV_ENSURE_OR_RETURN(nullptr != request, "invalid param request nullptr", false);
    OKV_ENSURE_OR_RETURN(nullptr != response, "invalid param response nullptr", false);
    if (request->origin() == nullptr) {
        OKV_LOG_TAG_ERROR(kTag, "request origin is null");
        commonHandleMessage(request, response);
        return false;
    }
    OKV_ENSURE(0 == request->origin()->type(), "request->origin()->type()");

    if (auto origin = addrOrigin(request->content())) {
        if (!origin->empty()) {
            response->setHeader("Access-Control-Allow-Origin", origin->c_str());
        }
    } else {
        response->setHeader("Access-Control-Allow-Origin", getReferer().c_str());
    }

    if (std::string_view(request->method()) == "OPTIONS") {
        const char* privateNetwork = request->header("Access-Control-Request-Private-Network");
        const bool askedPrivateNetwork =
            privateNetwork != nullptr && std::string_view(privateNetwork) == "true";
        PreflightGrant grant;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            grant = m_preflightGrant;
        }
        const bool granted = grant && grant(*request, *response);
        if (askedPrivateNetwork || granted) {
            if (askedPrivateNetwork) {
                response->setHeader("Access-Control-Allow-Private-Network", "true");
            }
            response->setStatus(200);
            response->send("", true);
            return false;
        }
    }

    if (m_verbose) {
        const std::string url = request->url();
        if (HttpLogPolicy::isDebugUrl(url)) {
            OKV_LOG_TAG_DEBUG(kTag, "[traceid:{}] http request enter, url:{}", request->traceId(), url);
        } else {
            OKV_LOG_TAG_INFO(kTag, "[traceid:{}] http request enter, url:{}", request->traceId(), url);
        }
        OKV_LOG_TAG_DEBUG(kTag, "request body:{}", request->content());
        response->startTiming();
    }
    return true;
}

std::string http::refusalReply() {
    portal::general_resp::GeneralResp refusal;
    refusal.code = kRefusalCode;
    refusal.message = utilities::getMessage(kInvalidRequestMessage);
    return portal::to_json(refusal);
}

bool HttpServer::commonHandleMessage(IRequest* req, IResponse* resp) {
    OKV_ENSURE_OR_RETURN(nullptr != req, "invalid param req nullptr", false);
    OKV_ENSURE_OR_RETURN(nullptr != resp, "invalid param resp nullptr", false);
    auto* origin = dynamic_cast<HttpOrigin*>(req->origin());
    if (origin == nullptr) {
        OKV_LOG_TAG_ERROR(kTag, "[traceid:{}] {}", req->traceId(), "request origin is not an http origin");
        return false;
    }
    const std::string reply = http::refusalReply();
    OKV_LOG_TAG_WARN(kTag, "[traceid:{}] url:{} \nrequest content:{} \nresponse:{}{}", req->traceId(),
                     origin->hostPort(), req->content(), reply, "");
    resp->setStatus(403);
    resp->send(reply.c_str(), true);
    return true;
}

std::string HttpServer::toString() {
    std::ostringstream out;
    out << "obj:0x" << std::hex << reinterpret_cast<std::uintptr_t>(this) << std::dec << "\n";
    out << "address:" << m_address << " port:" << m_port.load() << "\n";
    out << "referer:" << getReferer();
    return out.str();
}

}  // namespace talvern
