// Heap allocations per request on the web server's loop thread: a counting operator new replaces the
// library's for this program, and only the loop thread is counted (the client's own allocations are
// not the server's). A keep-alive client sends POST /v1/detect with a page's body; the server's
// handler answers with the detect reply, as the agent does. The loop thread's work is all of it: the
// engine's reading, parsing, the request and response objects, the pre-handling and the reply.
//
//     okavel_alloc_bench [requests, default 20000]

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "http/HttpServer.h"
#include "http/HttpServerManager.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "unit/http/EngineTestSupport.h"

namespace {
std::atomic<long> g_allocations{0};
thread_local bool t_counted = false;  // set on the loop thread by the handler

void* allocate(std::size_t size) {
    if (t_counted) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t align) {
    if (t_counted) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    const auto alignment = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)) {
        return p;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t align) { return allocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return allocateAligned(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
    long requests = argc > 1 ? std::atol(argv[1]) : 0;
    if (requests <= 0) {
        requests = 20000;  // also when run with another benchmark's flags
    }
    auto manager = std::make_shared<talvern::HttpServerManager>();
    auto server = std::make_shared<talvern::HttpServer>("127.0.0.1", 0, 1, 0);
    server->registerMessageHandler([](talvern::IRequest*, talvern::IResponse* response) {
        t_counted = true;
        response->send(R"({"code":0,"message":"detect successfully","data":{"pubkey":""}})", true);
        return true;
    });
    std::string error;
    if (!server->registerServerManager(manager, error)) {
        std::fprintf(stderr, "bind failed\n");
        return 1;
    }
    manager->start();
    talvern::test::Client client(server->port());
    const std::string request = talvern::test::post(
        "/v1/detect",
        R"({"type":"web","lang":"en-US","guid":"bench","addr":"https://localhost","token":"t"})");
    auto roundTrips = [&](long count) {
        for (long i = 0; i < count; ++i) {
            client.write(request);
            auto reply = client.read();
            if (!reply || reply->status != 200) {
                return false;
            }
        }
        return true;
    };
    if (!roundTrips(1000)) {  // warm: buffers grown, the loop thread marked
        std::fprintf(stderr, "no reply\n");
        return 1;
    }
    g_allocations = 0;
    if (!roundTrips(requests)) {
        std::fprintf(stderr, "no reply\n");
        return 1;
    }
    std::printf("heap allocations per request on the loop thread: %.1f (%ld requests)\n",
                static_cast<double>(g_allocations.load()) / requests, requests);
    manager->stop();
    return 0;
}
