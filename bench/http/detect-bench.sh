#!/usr/bin/env bash
# POST /v1/detect over HTTPS against the agent with wrk at 1 and 32 keep-alive connections, beside nginx
# (one worker process, the same built-in self-signed certificate) answering the same body on the same
# machine, in the same run. Prints requests per second and the 99th percentile latency of each.
# Usage: bench/http/detect-bench.sh [BUILD_DIR] (default build-release)
set -euo pipefail

build=${1:-build-release}
duration=${DURATION:-10s}
here=$(cd "$(dirname "$0")" && pwd)
agent_bin=$(cd "$build/bin" && pwd)/oKavelAgent
certificate=$(cd "$build/tlsmaterial" && pwd)/self-signed.pem  # certificate and key, made by the build

for tool in wrk nginx; do
    if ! command -v "$tool" >/dev/null; then
        echo "detect-bench: $tool is missing (apt-get install wrk nginx-light)" >&2
        exit 2
    fi
done

work=$(mktemp -d)
agent_pid=""
nginx_pid=""
cleanup() {
    [ -n "$agent_pid" ] && kill -TERM "$agent_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill -TERM "$nginx_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/bin" "$work/shared" "$work/run" "$work/data"
cp "$agent_bin" "$work/bin/"
export XDG_DATA_HOME="$work/data" OKAVEL_SHARED_DATA_DIR="$work/shared" OKAVEL_RUNTIME_DIR="$work/run"
export OKAVEL_HOSTS_FILE="$work/hosts"
# Beside an installed agent on the default ports: this one's fixed ports move out of their way.
export OKAVEL_PORT_OFFSET="${OKAVEL_PORT_OFFSET:-$(bash "$here/../../scripts/free-port-offset.sh")}"
touch "$work/hosts"
(cd "$work/bin" && exec ./oKavelAgent --plugin plugins >"$work/agent.out" 2>&1) &
agent_pid=$!

port_file="$work/bin/var/run/httpserver"
for _ in $(seq 1 200); do
    [ -s "$port_file" ] && break
    sleep 0.05
done
if [ ! -s "$port_file" ]; then
    echo "detect-bench: the agent did not publish its HTTP port" >&2
    cat "$work/agent.out" >&2
    exit 1
fi
agent_port=$(cat "$port_file")

nginx_port=$((agent_port + 1000))
body='{"code":0,"message":"detect successfully","data":{"pubkey":""}}'
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx;
    server {
        listen 127.0.0.1:$nginx_port ssl;
        ssl_certificate $certificate;
        ssl_certificate_key $certificate;
        location /v1/detect { default_type application/json; return 200 '$body'; }
    }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
sleep 0.5

run() {
    local name=$1 port=$2 connections=$3
    local out
    out=$(wrk -t1 -c"$connections" -d"$duration" --latency -s "$here/detect.lua" "https://127.0.0.1:$port/v1/detect")
    local rps p99
    rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    printf '%-8s %3s connections: %10s requests/s   p99 %s\n' "$name" "$connections" "$rps" "$p99"
}

echo "POST /v1/detect over HTTPS, $duration per run"
for c in 1 32; do
    run agent "$agent_port" "$c"
    run nginx "$nginx_port" "$c"
done
