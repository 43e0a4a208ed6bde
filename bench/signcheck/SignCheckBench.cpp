// Cost of the checks the agent runs on plug-ins and RPC peers: the full signature check of a signed
// file (streamed digest, CMS, chain) by file size, the feature list's MD5, and the signed-JSON check.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "signcheck/FileDigest.h"
#include "signcheck/FileSigner.h"
#include "signcheck/JsonSignChk.h"
#include "signcheck/SignCheck.h"

namespace {

namespace sc = talvern::signCheck;

// A file of size bytes signed with the development certificate, removed at exit.
class SignedFile {
public:
    explicit SignedFile(std::size_t size) {
        m_path = std::filesystem::temp_directory_path() / ("okavel-bench-" + std::to_string(size) + ".so");
        std::ofstream(m_path, std::ios::binary) << std::string(size, 'x');
        sc::SignOptions options;
        options.certificatePath = OKAVEL_DEV_SIGNING_CERT;
        options.keyPath = OKAVEL_DEV_SIGNING_KEY;
        std::error_code ec;
        std::string detail;
        m_signed = sc::signFile(m_path.string(), options, ec, detail);
    }
    ~SignedFile() { std::filesystem::remove(m_path); }
    std::string path() const { return m_path.string(); }
    bool isSigned() const { return m_signed; }

private:
    std::filesystem::path m_path;
    bool m_signed = false;
};

void BM_hasTalvernSignA(benchmark::State& state) {
    SignedFile file(static_cast<std::size_t>(state.range(0)));
    if (!file.isSigned() || !sc::windows::hasTalvernSignA(file.path())) {
        state.SkipWithError("the development signature is not accepted by this build");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(sc::windows::hasTalvernSignA(file.path()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_hasTalvernSignA)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

void BM_fileMd5Hex(benchmark::State& state) {
    SignedFile file(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string hex;
        std::uint64_t size = 0;
        std::error_code ec;
        benchmark::DoNotOptimize(sc::fileMd5Hex(file.path(), hex, size, ec));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_fileMd5Hex)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

void BM_jsonSignCheck(benchmark::State& state) {
    std::string list = R"({"plugins":[)";
    for (int i = 0; i < state.range(0); ++i) {
        list += (i ? "," : "") + std::string(R"({"name":"plugin)") + std::to_string(i) +
                R"(.so","md5":"0cc175b9c0f1b6a831c399e269772661","fileSize":123456})";
    }
    list += "]}";
    std::ifstream keyFile(OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY);
    std::string key((std::istreambuf_iterator<char>(keyFile)), {});
    std::string signedText;
    std::string reason;
    if (!talvern::JsonSignChk::jsonSign(list, key, false, signedText, reason) ||
        !talvern::JsonSignChk::jsonSignCheck(signedText)) {
        state.SkipWithError("the development feature-list key is not compiled into this build");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(talvern::JsonSignChk::jsonSignCheck(signedText));
    }
}
BENCHMARK(BM_jsonSignCheck)->Arg(10)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
