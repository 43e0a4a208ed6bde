// Throughput of the thread pool: tasks posted to a number of strands until all have run.

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "support/ThreadPool.h"

namespace {

void postAcrossStrands(benchmark::State& state) {
    const int strandCount = static_cast<int>(state.range(0));
    const int tasksPerStrand = 1000;
    auto pool = std::make_shared<talvern::thread_pool>(talvern::thread_pool::options{});
    pool->start();
    std::vector<std::shared_ptr<talvern::thread_pool::strand>> strands;
    for (int i = 0; i < strandCount; ++i) {
        strands.push_back(std::make_shared<talvern::thread_pool::strand>(pool));
    }
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable done;
        int remaining = strandCount * tasksPerStrand;
        for (int t = 0; t < tasksPerStrand; ++t) {
            for (auto& strand : strands) {
                strand->post([&] {
                    std::lock_guard lock(mutex);
                    if (--remaining == 0) {
                        done.notify_one();
                    }
                });
            }
        }
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return remaining == 0; });
    }
    state.SetItemsProcessed(state.iterations() * strandCount * tasksPerStrand);
    pool->stop();
}

}  // namespace

BENCHMARK(postAcrossStrands)->Arg(1)->Arg(4)->Arg(16)->UseRealTime();
