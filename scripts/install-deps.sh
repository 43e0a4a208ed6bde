#!/usr/bin/env bash
# Installs the Debian packages the agent, its tests and its tools need, only when some are missing.
set -euo pipefail

packages=(
    cmake g++ pkg-config ninja-build ccache make
    libboost-all-dev qtbase5-dev libthrift-dev thrift-compiler rapidjson-dev librttr-dev
    libspdlog-dev libfmt-dev libssl-dev libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    openssl procps python3
    clang-14 libclang-rt-14-dev  # libFuzzer and the sanitizers' runtimes (only recommended by clang-14)
    chromium chromium-driver iproute2  # the browser test of the portal page (ss: a free port offset)
)

# "--bench" also brings the tools and peers of the web benchmark (wrk; nginx, Redis and Node as peers).
if [ "${1:-}" = "--bench" ]; then
    packages+=(wrk nginx-light redis-server nodejs)
fi

# "--package" also brings what the Debian package is built and checked with (CI also reads the unit's
# exposure, the man pages and the listening ports).
if [ "${1:-}" = "--package" ]; then
    packages+=(dpkg-dev lintian man-db systemd iproute2)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
