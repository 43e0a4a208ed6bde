#!/usr/bin/env bash
# Builds the example plug-in as an outside project would: from the installed SDK alone.
# Usage: build-outside.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --component sdk --prefix "$work/sdk" >/dev/null
cmake -S "$source/examples/plugins/hello" -B "$work/hello" -G Ninja -DCMAKE_PREFIX_PATH="$work/sdk" >/dev/null
cmake --build "$work/hello" >/dev/null
library="$work/hello/hello.so"
test -f "$library"
# The two exports of the plug-in contract, and nothing of the module's own code, are visible.
exports=$(nm -D --defined-only "$library" | awk '{print $3}')
grep -qx CreateInstance <<<"$exports"
grep -qx FreeInstance <<<"$exports"
if grep -q HelloModule <<<"$(nm -DC --defined-only "$library")"; then
    echo "the module's own symbols are exported" >&2
    exit 1
fi
echo "outside build of the example plug-in: ok"
