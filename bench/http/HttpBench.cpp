// Loopback request throughput of the HTTP server: keep-alive round trips answered on the loop thread
// and from a worker thread (the posted path), and the request log's body masking.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>

#include "http/HttpLogPolicy.h"
#include "http/HttpServer.h"
#include "http/HttpServerManager.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "unit/http/EngineTestSupport.h"

namespace {

using talvern::HttpServer;
using talvern::HttpServerManager;
using talvern::IRequest;
using talvern::IResponse;

/// One server on an ephemeral port; replies either at once or from one worker thread.
class BenchServer {
public:
    explicit BenchServer(bool offLoop) : m_offLoop(offLoop) {
        m_server->setVerbose(false);
        m_server->registerMessageHandler([this](IRequest*, IResponse* response) {
            if (!m_offLoop) {
                response->send(R"({"code":0,"message":"ok"})", true);
                return true;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(response);
            m_ready.notify_one();
            return true;
        });
        std::string error;
        m_server->registerServerManager(m_manager, error);
        m_manager->start();
        if (m_offLoop) {
            m_worker = std::thread([this] { work(); });
        }
    }
    ~BenchServer() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            m_ready.notify_one();
        }
        if (m_worker.joinable()) {
            m_worker.join();
        }
        m_manager->stop();
    }
    std::uint16_t port() const { return m_server->port(); }

private:
    void work() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_ready.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) {
                return;
            }
            auto* response = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            response->send(R"({"code":0,"message":"ok"})", true);
            lock.lock();
        }
    }

    bool m_offLoop;
    std::shared_ptr<HttpServerManager> m_manager = std::make_shared<HttpServerManager>();
    std::shared_ptr<HttpServer> m_server = std::make_shared<HttpServer>("127.0.0.1", 0, 1, 0);
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<IResponse*> m_queue;
    bool m_stop = false;
    std::thread m_worker;
};

void roundTrips(benchmark::State& state, bool offLoop) {
    BenchServer server(offLoop);
    talvern::test::Client client(server.port());
    const std::string request = talvern::test::post("/v1/detect", R"({"type":"web","lang":"en-US"})");
    for (auto _ : state) {
        client.write(request);
        auto reply = client.read();
        if (!reply || reply->status != 200) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_KeepAliveRoundTripOnLoop(benchmark::State& state) { roundTrips(state, false); }
BENCHMARK(BM_KeepAliveRoundTripOnLoop)->UseRealTime();

void BM_KeepAliveRoundTripFromWorker(benchmark::State& state) { roundTrips(state, true); }
BENCHMARK(BM_KeepAliveRoundTripFromWorker)->UseRealTime();

void BM_MaskBody(benchmark::State& state) {
    std::string body = R"({"items":[)";
    for (int i = 0; i < state.range(0); ++i) {
        body += (i > 0 ? "," : "") +
                std::string(R"({"sid":"abcdef","name":"item","appInfo":{"pin":"1"},"n":)") +
                std::to_string(i) + "}";
    }
    body += "]}";
    for (auto _ : state) {
        benchmark::DoNotOptimize(talvern::HttpLogPolicy::maskBody(body));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_MaskBody)->Arg(10)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
