#!/usr/bin/env bash
# Weighs what the suite catches: applies each fault of the list to the product code, one at a time,
# rebuilds incrementally, runs the test programs that cover the changed file and counts the fault as
# caught when one of them fails (or hangs past the time-out).
#
#   bash scripts/mutate.sh [build-dir] [faults-file] [only-lines-matching]
#
# A fault is one line: file <TAB> text to find <TAB> replacement [<TAB> test programs]. The first line of
# the file holding the text is changed. Test programs default to the subsystem's (src/rpc/X.cpp ->
# rpc_tests, plus the integration tests for the layers they exercise); "program:Filter*" runs a part
# of one. Programs that use the fixed ports take the shared test lock. The file is restored however the run ends.
#
# With MUTATE_MATRIX=<file>, every program of a fault runs to its end and the file gets one line per test
# that failed: "<fault number>\t<program>\t<Suite.Test>" (a test that crashed or hung its program counts as
# failed), and "<fault number>\t-\t-" for a fault that nothing caught: which tests catch which faults.
set -uo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
build=${1:-build}
faults=${2:-scripts/mutations.txt}
only=${3:-}
timeoutSeconds=${MUTATE_TIMEOUT:-300}
lock=/tmp/okavel-test.lock

backup=$(mktemp)
mutated=""
restore() {
    if [ -n "$mutated" ]; then
        cp "$backup" "$mutated"
        mutated=""
    fi
}
trap 'restore; rm -f "$backup" "${runOut:-}"' EXIT
trap 'exit 130' INT TERM

defaultTests() {
    case "$1" in
        src/http/engine/*) echo "http_engine_tests http_tests" ;;
        src/http/tls/*) echo "http_tls_tests" ;;
        src/http/*) echo "http_tests" ;;
        src/controller/* | src/web/* | src/app/*) local sub=${1#src/}; echo "${sub%%/*}_tests integration_tests" ;;
        src/*/*) local sub=${1#src/}; echo "${sub%%/*}_tests" ;;
        *) echo "" ;;
    esac
}

runTest() {  # program[:filter] [output file]
    local program=${1%%:*} filter="*" out=${2:-/dev/null}
    [[ "$1" == *:* ]] && filter=${1#*:}
    local cmd=(timeout "$timeoutSeconds" "$build/tests/$program" "--gtest_filter=$filter")
    [ "$out" = /dev/null ] && cmd+=(--gtest_brief=1)
    if [ "$program" = integration_tests ] || [ "$program" = controller_tests ]; then
        flock "$lock" "${cmd[@]}" >"$out" 2>&1
    else
        "${cmd[@]}" >"$out" 2>&1
    fi
}

# The tests of one program's run that failed, or the one running when the program died.
failedTests() {  # output file, exit status
    local failed
    failed=$(sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' "$1" | grep -v '^[0-9]' | sort -u)
    if [ -z "$failed" ] && [ "$2" -ne 0 ]; then
        failed=$(awk '/^\[ RUN      \]/ { t = $4 } /^\[       (OK|SKIPPED) \]/ { t = "" } END { print (t == "" ? "(program)" : t) }' "$1")
    fi
    echo "$failed"
}

matrix=${MUTATE_MATRIX:-}
[ -n "$matrix" ] && : >"$matrix"
runOut=$(mktemp)
caught=0 missed=0 invalid=0 stale=0 number=0
missedList=() invalidList=()
while IFS=$'\t' read -r file pattern replacement tests; do
    [[ -z "$file" || "$file" == \#* ]] && continue
    number=$((number + 1))
    line="$file: $pattern -> $replacement"
    [[ -n "$only" && "$line" != *"$only"* ]] && continue
    if ! grep -qF -- "$pattern" "$file" 2>/dev/null; then
        echo "STALE   $line"
        stale=$((stale + 1))
        continue
    fi
    [ -n "$tests" ] || tests=$(defaultTests "$file")
    programs=()
    for t in $tests; do programs+=("${t%%:*}"); done
    cp "$file" "$backup"
    mutated=$file
    P="$pattern" R="$replacement" perl -i -pe 'if (!$done && s/\Q$ENV{P}\E/$ENV{R}/) { $done = 1 }' "$file"
    if ! nice cmake --build "$build" -j 2 --target "${programs[@]}" >/dev/null 2>&1; then
        echo "INVALID $line (does not build)"
        invalid=$((invalid + 1))
        invalidList+=("$line")
        restore
        continue
    fi
    verdict=missed
    for t in $tests; do
        if [ -n "$matrix" ]; then
            runTest "$t" "$runOut"
            status=$?
            if [ "$status" -ne 0 ]; then
                verdict=caught
                failedTests "$runOut" "$status" | while read -r name; do
                    printf '%s\t%s\t%s\n' "$number" "${t%%:*}" "$name" >>"$matrix"
                done
            fi
        elif ! runTest "$t"; then
            verdict=caught
            break
        fi
    done
    [ -n "$matrix" ] && [ "$verdict" = missed ] && printf '%s\t-\t-\n' "$number" >>"$matrix"
    restore
    if [ "$verdict" = caught ]; then
        echo "CAUGHT  $line"
        caught=$((caught + 1))
    else
        echo "MISSED  $line"
        missed=$((missed + 1))
        missedList+=("$line")
    fi
done <"$faults"

# Leave the build as the sources are.
nice cmake --build "$build" -j 2 >/dev/null 2>&1
echo
echo "caught $caught of $((caught + missed)) faults (missed $missed; $invalid do not build, $stale not found)"
for m in "${missedList[@]}"; do echo "  missed: $m"; done
for m in "${invalidList[@]}"; do echo "  invalid: $m"; done
[ "$missed" -eq 0 ]
