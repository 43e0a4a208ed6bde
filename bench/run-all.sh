#!/usr/bin/env bash
# Runs every benchmark program of a build: run-all.sh BUILD_DIR [extra Google Benchmark flags]
# Benchmarks are meaningful only in a Release build (`make bench` builds build-release).
set -euo pipefail
if [[ $# -lt 1 ]]; then
    echo "usage: $0 BUILD_DIR [benchmark flags...]" >&2
    exit 2
fi
bench_dir="$1/bench"
shift
if [[ ! -d "$bench_dir" ]]; then
    echo "no benchmark programs in $bench_dir (is Google Benchmark installed?)" >&2
    exit 1
fi
status=0
found=0
for program in "$bench_dir"/*; do
    [[ -f "$program" && -x "$program" ]] || continue
    found=1
    echo "== $(basename "$program")"
    if ! "$program" "$@"; then
        echo "== $(basename "$program") FAILED" >&2
        status=1
    fi
done
if [[ $found -eq 0 ]]; then
    echo "no benchmark programs found in $bench_dir" >&2
    exit 1
fi
exit $status
