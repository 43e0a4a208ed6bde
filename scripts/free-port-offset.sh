#!/usr/bin/env bash
# Prints an OKAVEL_PORT_OFFSET (1000 or more) under which every fixed port of the agent and its 11-step
# candidates are free on this machine, so that a benchmark's or a test's agent runs beside an installed one.
set -euo pipefail

listening=$(ss -Htln 2>/dev/null | awk '{ n = split($4, a, ":"); print a[n] }' | sort -u)
busy() { grep -qx "$1" <<<"$listening"; }

start=$RANDOM
for ((i = 0; i < 53; i++)); do
    offset=$((1000 + 100 * ((start + i) % 53) + 7))
    free=1
    for first in 54630 54631; do
        for k in 0 1 2; do busy $((first + offset + 11 * k)) && free=0; done
    done
    for first in 56630 57630 58630; do
        for k in 0 1 2 3 4 5 6 7; do busy $((first + offset + 11 * k)) && free=0; done
    done
    if [ "$free" = 1 ]; then
        echo "$offset"
        exit 0
    fi
done
echo "free-port-offset: no offset with every agent port free" >&2
exit 1
