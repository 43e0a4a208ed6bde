// What a bus event costs on its way to web clients: storing it in the ring, answering a replay of the
// whole ring, and pushing it to subscribed sockets.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "eventcenter/WebSocketEventCenter.h"
#include "http/websocket/IWebSocket.h"
#include "support/Timer.h"

namespace {

const std::string kContent =
    R"({"event":"uemStatus","data":{"status":"online","user":"someone","items":[1,2,3]}})";

/// A socket that only counts bytes, so the benchmark measures the center.
class CountingSocket : public talvern::IWebSocket {
public:
    std::string peer() const override { return "127.0.0.1:1"; }
    void sendText(const std::string& data) override { bytes += data.size(); }
    void sendTextNow(const std::string& data) override { bytes += data.size(); }
    void sendBinaryNow(const std::string& data) override { bytes += data.size(); }
    void sendBinary(const std::string& data) override { bytes += data.size(); }
    void close(const talvern::CloseFrame&) override {}
    std::uint32_t addListener(Event, Listener) override { return 0; }
    void removeListener(std::uint32_t) override {}
    std::size_t bytes = 0;
};

void BM_StoreEvent(benchmark::State& state) {
    talvern::details::EventManager manager;
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.add("statusEvent|uemStatus", kContent));
    }
}
BENCHMARK(BM_StoreEvent);

void BM_ReplyWithFullRing(benchmark::State& state) {
    talvern::details::EventManager manager;
    for (int i = 0; i < 256; ++i) {
        manager.add("statusEvent|uemStatus", kContent);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(talvern::HttpEventCenter::eventsReply(manager.since(1)));
    }
}
BENCHMARK(BM_ReplyWithFullRing);

void BM_BroadcastToSubscribers(benchmark::State& state) {
    talvern::utilities::Timer timer;
    auto center = std::make_shared<talvern::WebSocketEventCenter>(timer);
    std::vector<std::shared_ptr<CountingSocket>> sockets;
    for (int i = 0; i < state.range(0); ++i) {
        sockets.push_back(std::make_shared<CountingSocket>());
        talvern::portal::ws_events_req::WsEventsReq request;
        request.path = "/v1/service/events";
        request.sdpTraceId = "0123abcd";
        center->addWebSocket(sockets.back(), request);
    }
    for (auto _ : state) {
        center->broadcast("statusEvent|uemStatus", kContent);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BroadcastToSubscribers)->Arg(1)->Arg(8)->Arg(64);

}  // namespace
