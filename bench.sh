#!/usr/bin/env bash
# Builds in release mode and measures the utility against the simulated unit over a real
# pseudo-terminal: ripple, polling, key latency, Send throughput, start-up, memory and a shift at
# the station. Prints one table and writes the same figures to build-release/bench.json, beside
# its build. Takes about
# 20 minutes, 10 of them polling for the memory soak; --quick polls for 1 minute instead and
# tests 20 units at the station, not 100.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

minutes=10
case "${1:-}" in
"") ;;
--quick)
    minutes=1
    # A shorter shift at the station too.
    export KV310_STATION_UNITS=20
    ;;
*)
    echo "usage: $0 [--quick]" >&2
    exit 2
    ;;
esac

benches=(bench_ripple bench_polling bench_key_latency bench_throughput bench_startup bench_memory
    bench_station)

kv310_install "${KV310_PACKAGES[@]}"
# What is measured: the tree as it is built.
commit=$(git describe --always --dirty 2>/dev/null || echo unknown)
kv310_build build-release --target kv310-test kv310-sim kv310-test-driver kv310-bench-report \
    "${benches[@]}" >&2
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

# Each benchmark writes its figures as one JSON document; one that could not measure leaves its
# file empty (exit status 1 is a missed goal, which its figures show).
results=build-release/bench
rm -rf "$results"
mkdir -p "$results"
started=$(date -u +%Y-%m-%dT%H:%M:%SZ)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
export KV310_SOAK_MINUTES=$minutes
files=()
for bench in "${benches[@]}"; do
    echo "== $bench" >&2
    files+=("$results/$bench.json")
    status=0
    "build-release/bin/$bench" >"$results/$bench.json" || status=$?
    [ "$status" -le 1 ] || : >"$results/$bench.json"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

build-release/bin/kv310-bench-report build-release/bench.json \
    date="$started" commit="$commit" soak_minutes:="$minutes" \
    machine.cores:="$(nproc)" machine.kernel="$(uname -r)" \
    machine.cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" \
    machine.load_before="$load_before" machine.load_after="$load_after" \
    -- "${files[@]}"
