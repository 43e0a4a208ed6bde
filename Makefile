# Entry points for people and CI. Everything is built with CMake + Ninja; see README.md.
BUILD_TYPE ?= Debug
JOBS ?= 2
CMAKE_FLAGS ?=
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all deps configure build run test test-asan test-tsan fuzz bench bench-http bench-web package format clean mutate

all: build

deps:
	@bash scripts/install-deps.sh

build/build.ninja: | deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

configure: build/build.ninja

build: deps configure
	cmake --build build -j $(JOBS)

# Runs the agent in the foreground as the host of the main plug-in directory (HTTP and event bus on).
run: build
	cd build/bin && ./oKavelAgent --plugin plugins

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

build-asan/build.ninja: | deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOKAVEL_SANITIZE=address $(CMAKE_FLAGS)

test-asan: build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

build-tsan/build.ninja: | deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOKAVEL_SANITIZE=thread $(CMAKE_FLAGS)

test-tsan: build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# libFuzzer targets need clang; each target runs for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOKAVEL_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target okavel_fuzzers
	bash tests/fuzz/run-all.sh build-fuzz $(FUZZ_SECONDS)

bench:
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build-release -j $(JOBS)
	bash bench/run-all.sh build-release

# The web path beside nginx, Redis and Node in one run (detect, delivery, fan-out, memory); see
# bench/web/web-bench.sh. `make bench-http` runs its detect section alone.
WEB_BENCH_TARGETS = oKavelAgent hello okavel_web_bench okavel_alloc_bench
bench-web bench-http:
	@bash scripts/install-deps.sh --bench
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build-release -j $(JOBS) --target $(WEB_BENCH_TARGETS)
	bash bench/web/web-bench.sh build-release $(if $(filter bench-http,$@),detect,)

# The Debian package okavel-agent_<version>_<arch>.deb in build-package/ (Release, prefix /usr, agent in
# /usr/lib/okavel), checked with lintian. Release signing material: CMAKE_FLAGS="-DOKAVEL_SIGNING_CERT=...
# -DOKAVEL_SIGNING_KEY=... -DOKAVEL_TRUST_ANCHOR_BUNDLE=..." (docs/code-signing.md).
package:
	@bash scripts/install-deps.sh --package
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DOKAVEL_PACKAGE=ON -DOKAVEL_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB
	lintian --fail-on error build-package/okavel-agent_*.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz build-release build-package

# Applies each fault of scripts/mutations.txt in turn and reports which ones the suite misses (long: run it niced).
mutate: build
	bash scripts/mutate.sh build scripts/mutations.txt
