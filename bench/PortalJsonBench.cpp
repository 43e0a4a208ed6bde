// Encoding and decoding cost of a portal record through the reflection-driven encoder.
#include <benchmark/benchmark.h>

#include <string>

#include "portal/Json.h"
#include "portal/PortalMessages.h"
#include "support/Url.h"

namespace {

talvern::portal::event_req::EventReq sampleRequest() {
    talvern::portal::event_req::EventReq req;
    req.sdpTraceId = "3f9a0c1d";
    req.type = "events";
    req.lang = "zh-CN";
    req.guid = "6c1f2d4e-8a9b-4c3d-9e8f-0a1b2c3d4e5f";
    req.addr = "127.0.0.1";
    req.token = "f0e1d2c3b4a5968778695a4b3c2d1e0f";
    req.data.fromId = 1234;
    req.data.timeout = 10000;
    return req;
}

void BM_EventReqToJson(benchmark::State& state) {
    auto req = sampleRequest();
    for (auto _ : state) {
        std::string text = talvern::portal::to_json(req);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_EventReqToJson);

void BM_EventReqFromJson(benchmark::State& state) {
    auto source = sampleRequest();
    const std::string text = talvern::portal::to_json(source);
    for (auto _ : state) {
        talvern::portal::event_req::EventReq req;
        bool ok = talvern::portal::from_json(text, req);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(req);
    }
}
BENCHMARK(BM_EventReqFromJson);

void BM_UrlParse(benchmark::State& state) {
    const std::string text =
        "https://user@portal.example.com:8443/v1/service/events?fromId=12&lang=zh-CN#top";
    for (auto _ : state) {
        talvern::net::Url url(text);
        benchmark::DoNotOptimize(url.hostKind());
    }
}
BENCHMARK(BM_UrlParse);

}  // namespace

BENCHMARK_MAIN();
