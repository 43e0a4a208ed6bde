#!/usr/bin/env bash
# The web path beside the best servers, measured in one run on this machine (`make bench-web`):
#   detect     POST /v1/detect over HTTPS under wrk at 1, 32, 128 and 1024 connections, beside nginx (one
#              worker, the agent's certificate, the same body); requests/s, p99 and CPU per request; then
#              heap allocations per request on the loop thread (okavel_alloc_bench)
#   delivery   bus push -> WebSocket frame and -> long-poll reply, beside Redis PUBLISH -> subscriber
#              (p50/p99, the same C++ client program on both sides)
#   fanout     one event to 100, 1000 and 10000 subscribed WebSockets, the last one reached, beside a Node
#              broadcast server over TLS
#   memory     idle RSS beside nginx and Redis; RSS per idle subscribed WebSocket; RSS after they close
#   hostile    10,000 silent connections (beside nginx), 1,000 slow heads, parked polls and WebSockets, a
#              subscriber that never reads, a 16 MiB message, ten rounds of 10,000 connect-and-close, with
#              detect asked every 100 ms all along (the section fails when an answer is missing)
#   profile    (only when named) perf and strace of the agent under detect, into PROFILE_OUT.*
# Agent and peer runs alternate; each figure is the median of ROUNDS runs, printed with the peer's and the
# ratio (agent/peer for rates, peer-relative for times: >1 means the agent is better for rates).
#
# Usage: bench/web/web-bench.sh BUILD_DIR [section...]     (default: every section)
# Environment: ROUNDS (3), DURATION (wrk run, 5s), CONNECTIONS ("1 32 128 1024"), FANOUT ("100 1000 10000"),
#              SAMPLES (delivery samples per run, 2000)
set -euo pipefail

build=$(cd "${1:-build-release}" && pwd)
shift || true
sections=("$@")
[ ${#sections[@]} -eq 0 ] && sections=(detect delivery fanout memory hostile)
rounds=${ROUNDS:-3}
duration=${DURATION:-5s}
connections=${CONNECTIONS:-1 32 128 1024}
fanout_sizes=${FANOUT:-100 1000 10000}
samples=${SAMPLES:-2000}
here=$(cd "$(dirname "$0")" && pwd)
client="$build/bench/web/okavel_web_bench"
certificate="$build/tlsmaterial/self-signed.pem"  # certificate and key, made by the build

for tool in wrk nginx redis-server node; do
    if ! command -v "$tool" >/dev/null; then
        echo "web-bench: $tool is missing (scripts/install-deps.sh --bench)" >&2
        exit 2
    fi
done
ulimit -n "$(ulimit -Hn)"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# --- helpers -------------------------------------------------------------------------------------------

rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
# Shared library pages counted once per process that maps them: a fairer sum for several processes.
pss_kb() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR ? a[int((NR+1)/2)] : 0)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
row() { printf '%-44s %12s %12s %8s\n' "$@"; }

# The agent with HTTP, the bus and one plug-in, in a sandbox of its own.
start_agent() {
    local box="$work/agent"
    rm -rf "$box"
    mkdir -p "$box/bin" "$box/shared" "$box/run" "$box/data"
    cp "$build/bin/oKavelAgent" "$box/bin/"
    cp -r "$build/bin/plugins" "$box/bin/"
    touch "$box/hosts"
    # Beside an installed agent on the default ports: this one's fixed ports move out of their way.
    local offset="${OKAVEL_PORT_OFFSET:-$(bash "$here/../../scripts/free-port-offset.sh")}"
    (cd "$box/bin" && exec env XDG_DATA_HOME="$box/data" OKAVEL_SHARED_DATA_DIR="$box/shared" \
        OKAVEL_RUNTIME_DIR="$box/run" OKAVEL_HOSTS_FILE="$box/hosts" OKAVEL_PORT_OFFSET="$offset" \
        ./oKavelAgent --plugin plugins >"$box/out" 2>&1) &
    agent_pid=$!
    pids+=("$agent_pid")
    for _ in $(seq 1 200); do
        [ -s "$box/bin/var/run/httpserver" ] && [ -s "$box/bin/var/run/plugins/thrift" ] && break
        sleep 0.05
    done
    agent_port=$(cat "$box/bin/var/run/httpserver")
    bus_port=$(cat "$box/bin/var/run/plugins/thrift")
    sleep 1  # the bus announces itself and the plug-in settles
}

stop_pid() { kill -TERM "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

start_nginx() {
    nginx_port=$(free_port)
    local body='{"code":0,"message":"detect successfully","data":{"pubkey":""}}'
    mkdir -p "$work/nginx"
    cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
worker_rlimit_nofile 65536;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
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
    pids+=("$nginx_pid")
    sleep 0.5
    nginx_worker=$(pgrep -P "$nginx_pid" | head -1)
}

start_redis() {
    redis_port=$(free_port)
    redis-server --port "$redis_port" --bind 127.0.0.1 --save '' --appendonly no --daemonize no \
        --dir "$work" >"$work/redis.out" 2>&1 &
    redis_pid=$!
    pids+=("$redis_pid")
    sleep 0.5
}

start_node() {
    node_port=$(free_port)
    node "$here/node-broadcast.js" "$node_port" "$certificate" >"$work/node.out" 2>&1 &
    node_pid=$!
    pids+=("$node_pid")
    for _ in $(seq 1 100); do grep -q listening "$work/node.out" && break; sleep 0.05; done
}

# --- detect --------------------------------------------------------------------------------------------

# wrk against one server; prints "requests/s p99_us cpu_us_per_request" (cpu of the given pids).
wrk_run() {
    local port=$1 c=$2
    shift 2
    local threads=1
    [ "$c" -gt 32 ] && threads=2
    local before=0 after=0 pid
    for pid in "$@"; do before=$((before + $(cpu_ticks "$pid"))); done
    local out
    out=$(wrk -t"$threads" -c"$c" -d"$duration" --latency -s "$here/detect.lua" "https://127.0.0.1:$port/v1/detect")
    for pid in "$@"; do after=$((after + $(cpu_ticks "$pid"))); done
    local hz
    hz=$(getconf CLK_TCK)
    awk -v ticks=$((after - before)) -v hz="$hz" '
        /Requests\/sec/ {rps = $2}
        /requests in/ {n = $1}
        $1 == "99%" {v = $2; u = 1; if (v ~ /us$/) u = 1; else if (v ~ /ms$/) u = 1000; else if (v ~ /s$/) u = 1000000;
                     sub(/[a-z]+$/, "", v); p99 = v * u}
        END {printf "%.0f %.0f %.1f\n", rps, p99, (n > 0 ? ticks / hz * 1e6 / n : 0)}' <<<"$out"
}

section_detect() {
    start_agent
    start_nginx
    echo "== POST /v1/detect over HTTPS, wrk $duration per run, median of $rounds alternating runs"
    row "" agent nginx ratio
    for c in $connections; do
        local a_rps=() a_p99=() a_cpu=() n_rps=() n_p99=() n_cpu=()
        for _ in $(seq 1 "$rounds"); do
            read -r r p u < <(wrk_run "$agent_port" "$c" "$agent_pid")
            a_rps+=("$r"); a_p99+=("$p"); a_cpu+=("$u")
            read -r r p u < <(wrk_run "$nginx_port" "$c" "$nginx_pid" "$nginx_worker")
            n_rps+=("$r"); n_p99+=("$p"); n_cpu+=("$u")
        done
        local ar ap ac nr np nc
        ar=$(printf '%s\n' "${a_rps[@]}" | median); nr=$(printf '%s\n' "${n_rps[@]}" | median)
        ap=$(printf '%s\n' "${a_p99[@]}" | median); np=$(printf '%s\n' "${n_p99[@]}" | median)
        ac=$(printf '%s\n' "${a_cpu[@]}" | median); nc=$(printf '%s\n' "${n_cpu[@]}" | median)
        row "$c connections: requests/s" "$ar" "$nr" "$(ratio "$ar" "$nr")x"
        row "$c connections: p99 us" "$ap" "$np" "$(ratio "$ap" "$np")x"
        row "$c connections: CPU us per request" "$ac" "$nc" "$(ratio "$ac" "$nc")x"
    done
    echo "agent RSS after the detect runs: $(rss_kb "$agent_pid") kB"
    "$build/bench/okavel_alloc_bench" 20000
    stop_pid "$nginx_pid"
    stop_pid "$agent_pid"
}

# --- delivery ------------------------------------------------------------------------------------------

section_delivery() {
    start_agent
    start_redis
    echo "== delivery, $samples events per run, median of $rounds alternating runs (microseconds)"
    row "" agent redis ratio
    local mode
    for mode in ws poll; do
        local a50=() a99=() r50=() r99=()
        for _ in $(seq 1 "$rounds"); do
            read -r p50 p99 < <("$client" "delivery-$mode" "$agent_port" "$bus_port" "$samples")
            a50+=("$p50"); a99+=("$p99")
            read -r p50 p99 < <("$client" delivery-redis "$redis_port" "$samples")
            r50+=("$p50"); r99+=("$p99")
        done
        local name="push -> WebSocket"
        [ "$mode" = poll ] && name="push -> long-poll reply"
        local x y
        x=$(printf '%s\n' "${a50[@]}" | median); y=$(printf '%s\n' "${r50[@]}" | median)
        row "$name p50" "$x" "$y" "$(ratio "$x" "$y")x"
        x=$(printf '%s\n' "${a99[@]}" | median); y=$(printf '%s\n' "${r99[@]}" | median)
        row "$name p99" "$x" "$y" "$(ratio "$x" "$y")x"
    done
    stop_pid "$redis_pid"
    stop_pid "$agent_pid"
}

# --- fan-out -------------------------------------------------------------------------------------------

section_fanout() {
    echo "== one event to N subscribed WebSockets, the last one reached, median of $rounds rounds (microseconds)"
    row "" agent node ratio
    local n
    for n in $fanout_sizes; do
        start_agent
        local a
        a=$("$client" fanout-agent "$agent_port" "$bus_port" "$n" "$rounds" || echo failed)
        stop_pid "$agent_pid"
        start_node
        local b
        b=$("$client" fanout-node "$node_port" "$n" "$rounds" || echo failed)
        stop_pid "$node_pid"
        row "$n sockets" "$a" "$b" "$(ratio "$a" "$b")x"
    done
}

# --- memory --------------------------------------------------------------------------------------------

section_memory() {
    start_agent
    start_nginx
    start_redis
    local idle ng rd
    idle=$(rss_kb "$agent_pid")
    ng=$(( $(rss_kb "$nginx_pid") + $(rss_kb "$nginx_worker") ))
    rd=$(rss_kb "$redis_pid")
    echo "== memory (kB)"
    row "idle RSS: agent / nginx (master+worker)" "$idle" "$ng" "$(ratio "$idle" "$ng")x"
    row "idle RSS: agent / redis" "$idle" "$rd" "$(ratio "$idle" "$rd")x"
    local idlePss ngPss rdPss
    idlePss=$(pss_kb "$agent_pid")
    ngPss=$(( $(pss_kb "$nginx_pid") + $(pss_kb "$nginx_worker") ))
    rdPss=$(pss_kb "$redis_pid")
    row "idle PSS: agent / nginx (master+worker)" "$idlePss" "$ngPss" "$(ratio "$idlePss" "$ngPss")x"
    row "idle PSS: agent / redis" "$idlePss" "$rdPss" "$(ratio "$idlePss" "$rdPss")x"
    echo "agent idle RSS by kind: $(awk '/^(Anonymous|Pss_File|Pss_Anon):/ {printf "%s %s kB  ", $1, $2}' "/proc/$agent_pid/smaps_rollup")"
    stop_pid "$nginx_pid"
    stop_pid "$redis_pid"
    local n
    for n in 1000 10000; do
        local before held after
        before=$(rss_kb "$agent_pid")
        coproc HOLD { "$client" hold "$agent_port" "$n"; }
        read -r _ <&"${HOLD[0]}"
        sleep 1
        held=$(rss_kb "$agent_pid")
        eval "exec ${HOLD[1]}>&-"
        wait "$HOLD_PID" 2>/dev/null || true
        sleep 2
        after=$(rss_kb "$agent_pid")
        row "$n idle WebSockets: bytes per socket" "$(( (held - before) * 1024 / n ))" "" ""
        row "$n idle WebSockets: RSS held / after close" "$held" "$after" "$(ratio "$after" "$idle")x idle"
    done
    stop_pid "$agent_pid"
}

# --- hostile load --------------------------------------------------------------------------------------

section_hostile() {
    echo "== hostile load"
    start_nginx
    local per before held after
    read -r per before held after < <("$client" silent "$nginx_port" "$nginx_worker" 10000)
    echo "nginx worker, 10000 silent connections: $per bytes each (RSS $before -> $held -> $after kB)"
    stop_pid "$nginx_pid"
    start_agent
    read -r per before held after < <("$client" silent "$agent_port" "$agent_pid" 10000)
    echo "agent, 10000 silent connections: $per bytes each (RSS $before -> $held -> $after kB)"
    stop_pid "$agent_pid"
    start_agent
    "$client" hostile "$agent_port" "$bus_port" "$agent_pid" 10000 1000
    stop_pid "$agent_pid"
}

# --- profile (asked for by name; perf and strace) ----------------------------------------------------------

# Where the loop's time goes under detect at 32 connections (perf, cpu-clock, 10 s) and the system calls
# of 2 s of detect on one kept-alive connection (strace -c), into PROFILE_OUT.{report,dso,strace}.
section_profile() {
    local out=${PROFILE_OUT:-$PWD/detect-profile}
    for tool in perf strace; do
        command -v "$tool" >/dev/null || { echo "web-bench: $tool is missing" >&2; exit 2; }
    done
    start_agent
    local url="https://127.0.0.1:$agent_port/v1/detect"
    wrk -t1 -c32 -d2s -s "$here/detect.lua" "$url" >/dev/null  # TLS sessions and caches warm
    perf record -F 999 -e cpu-clock -g -p "$agent_pid" -o "$out.data" -- sleep 10 >/dev/null 2>&1 &
    local perf_pid=$!
    wrk -t1 -c32 -d10s -s "$here/detect.lua" "$url" | grep -E "Requests/sec"
    wait "$perf_pid" || true
    strace -c -f -p "$agent_pid" -o "$out.strace" &
    local strace_pid=$!
    sleep 1
    wrk -t1 -c1 -d2s -s "$here/detect.lua" "$url" | grep -E "requests in"
    kill -INT "$strace_pid"
    wait "$strace_pid" 2>/dev/null || true
    stop_pid "$agent_pid"
    perf report -i "$out.data" --stdio --no-children -g none --percent-limit 0.7 --sort dso,symbol 2>/dev/null |
        grep -v -e '^#' -e '^$' | sed 's/  */ /g' | cut -c1-150 | head -60 >"$out.report"
    perf report -i "$out.data" --stdio --no-children -g none --sort dso 2>/dev/null |
        grep -v -e '^#' -e '^$' | sed 's/  */ /g' | head -15 >"$out.dso"
    echo "profile: $out.report (symbols), $out.dso (objects), $out.strace (system calls)"
}

for section in "${sections[@]}"; do
    "section_$section"
done
