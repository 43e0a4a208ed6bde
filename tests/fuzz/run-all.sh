#!/usr/bin/env bash
# Runs the fuzz programs of a build for a bounded time:
#   run-all.sh BUILD_DIR SECONDS [--cpu] [PROGRAM...]
# SECONDS is wall time per program, or with --cpu the processor time it must have had (long runs under
# `nice`, where wall time says little). No PROGRAM: every program of the build.
# Each program starts from the seeds kept in tests/fuzz/corpus/<name> (crash regressions included, so a
# run replays them first) and grows its own corpus in BUILD_DIR/fuzz/corpus/<name>, with the dictionary
# tests/fuzz/dict/<name>.dict when there is one. A crash leaves its input in BUILD_DIR/fuzz/artifacts/
# and makes this script fail; each program's last lines go to BUILD_DIR/fuzz/logs/<name>.log.
set -euo pipefail
if [[ $# -lt 2 ]]; then
    echo "usage: $0 BUILD_DIR SECONDS [--cpu] [PROGRAM...]" >&2
    exit 2
fi
build_dir=$1
seconds=$2
shift 2
cpu=0
if [[ ${1:-} == --cpu ]]; then
    cpu=1
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
fuzz_dir="$build_dir/fuzz"
if [[ ! -d "$fuzz_dir" ]]; then
    echo "no fuzz programs in $fuzz_dir (configure with -DOKAVEL_FUZZ=ON and clang)" >&2
    exit 1
fi
programs=("$@")
if [[ ${#programs[@]} -eq 0 ]]; then
    for program in "$fuzz_dir"/*; do
        [[ -f "$program" && -x "$program" ]] && programs+=("$(basename "$program")")
    done
fi
if [[ ${#programs[@]} -eq 0 ]]; then
    echo "no fuzz programs found in $fuzz_dir" >&2
    exit 1
fi

# Processor seconds (user and system) of a running process.
cpu_seconds() {
    awk -v tick="$(getconf CLK_TCK)" '{ print int(($14 + $15) / tick) }' "/proc/$1/stat" 2>/dev/null || echo 0
}

status=0
for name in "${programs[@]}"; do
    corpus="$fuzz_dir/corpus/$name"
    artifacts="$fuzz_dir/artifacts/"
    mkdir -p "$corpus" "$artifacts" "$fuzz_dir/logs"
    # Under `nice` a starved input may take long in wall time without being stuck.
    args=(-print_final_stats=1 -artifact_prefix="$artifacts" -timeout=$((cpu ? 300 : 25)) -rss_limit_mb=2048)
    [[ -f "$here/dict/$name.dict" ]] && args+=(-dict="$here/dict/$name.dict")
    [[ $cpu -eq 0 ]] && args+=(-max_total_time="$seconds")
    dirs=("$corpus")
    [[ -d "$here/corpus/$name" ]] && dirs+=("$here/corpus/$name")
    echo "== $name for ${seconds}s$([[ $cpu -eq 1 ]] && echo ' of processor time')"
    log="$fuzz_dir/logs/$name.log"
    "$fuzz_dir/$name" "${args[@]}" "${dirs[@]}" >"$log" 2>&1 &
    pid=$!
    if [[ $cpu -eq 1 ]]; then
        # libFuzzer ends a run cleanly on SIGINT, with its final statistics.
        while kill -0 "$pid" 2>/dev/null && [[ $(cpu_seconds "$pid") -lt $seconds ]]; do
            sleep 5
        done
        kill -INT "$pid" 2>/dev/null || true
    fi
    result=0
    wait "$pid" || result=$?
    # 72: stopped by the interrupt above.
    if [[ $result -eq 0 || ($cpu -eq 1 && $result -eq 72) ]]; then
        grep -E '^(#[0-9]+ +DONE|stat::|Done )' "$log" || tail -n 3 "$log"
    else
        tail -n 60 "$log" >&2
        echo "== $name FAILED" >&2
        status=1
    fi
done
exit $status
