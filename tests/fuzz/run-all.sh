#!/usr/bin/env bash
# Runs every fuzz program of a build for a bounded time: run-all.sh BUILD_DIR SECONDS
# Each program keeps its corpus in BUILD_DIR/fuzz/corpus/<name>; a crash leaves its input in
# BUILD_DIR/fuzz/artifacts/ and makes this script fail.
set -euo pipefail
if [[ $# -ne 2 ]]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build_dir=$1
seconds=$2
fuzz_dir="$build_dir/fuzz"
if [[ ! -d "$fuzz_dir" ]]; then
    echo "no fuzz programs in $fuzz_dir (configure with -DOKAVEL_FUZZ=ON and clang)" >&2
    exit 1
fi
status=0
found=0
for program in "$fuzz_dir"/*; do
    [[ -f "$program" && -x "$program" ]] || continue
    found=1
    name=$(basename "$program")
    corpus="$fuzz_dir/corpus/$name"
    artifacts="$fuzz_dir/artifacts/"
    mkdir -p "$corpus" "$artifacts"
    echo "== $name for ${seconds}s"
    if ! "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus"; then
        echo "== $name FAILED" >&2
        status=1
    fi
done
if [[ $found -eq 0 ]]; then
    echo "no fuzz programs found in $fuzz_dir" >&2
    exit 1
fi
exit $status
