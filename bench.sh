#!/usr/bin/env bash
# Builds in release mode and measures the utility against the simulated unit over a real
# pseudo-terminal: ripple, polling, key latency, Send throughput, start-up and memory. Prints one
# table and writes the same figures to build-release/bench.json, beside its build. Takes about
# 16 minutes, 10 of them polling for the memory soak; --quick polls for 1 minute instead.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

minutes=10
case "${1:-}" in
"") ;;
--quick) minutes=1 ;;
*)
    echo "usage: $0 [--quick]" >&2
    exit 2
    ;;
esac

benches=(bench_ripple bench_polling bench_key_latency bench_throughput bench_startup bench_memory)

kv310_install "${KV310_PACKAGES[@]}"
# What is measured: the tree as it is built.
commit=$(git describe --always --dirty 2>/dev/null || echo unknown)
kv310_build build-release -DBUILD_TESTING=ON -DCMAKE_BUILD_TYPE=Release \
    --target kv310-test kv310-sim kv310-test-driver "${benches[@]}" >&2
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

results=$(mktemp)
trap 'rm -f "$results"' EXIT
started=$(date -u +%Y-%m-%dT%H:%M:%SZ)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
export KV310_SOAK_MINUTES=$minutes
for bench in "${benches[@]}"; do
    echo "== $bench" >&2
    # Exit status 1 is a missed goal, which its figures show; anything else is no figures.
    status=0
    "build-release/bin/$bench" >>"$results" || status=$?
    [ "$status" -le 1 ] || printf 'error\t%s\t%s\n' "$bench" "$status" >>"$results"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

awk -F'\t' -v json=build-release/bench.json -v date="$started" -v minutes="$minutes" \
    -v cores="$(nproc)" -v kernel="$(uname -r)" -v load_before="$load_before" \
    -v load_after="$load_after" -v commit="$commit" \
    -v cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" '
function quote(text) { gsub(/\\/, "&&", text); gsub(/"/, "\\\"", text); return "\"" text "\"" }
function list(text, item) { return text == "" ? item : text ",\n" item }
function cell(column, text) { if (length(text) > widths[column]) widths[column] = length(text); return text }
function row(r, c, line) {
    line = "|"
    for (c = 1; c <= 5; ++c)
        line = line sprintf(c == 3 ? " %" widths[c] "s |" : " %-" widths[c] "s |", cells[r, c])
    print line
}
BEGIN {
    rows = 1; split("Section|Figure|Value|Goal|Result", heading, "|")
    for (c = 1; c <= 5; ++c) cells[1, c] = cell(c, heading[c])
}
$1 == "figure" {
    ++rows
    cells[rows, 1] = cell(1, $2); cells[rows, 2] = cell(2, $3); cells[rows, 3] = cell(3, $4 " " $5)
    cells[rows, 4] = cell(4, $6); cells[rows, 5] = cell(5, $7 == "pass" ? "pass" : $7 == "fail" ? "FAIL" : "")
    if ($7 == "fail") failed = 1
    figures = list(figures, sprintf("    {\"section\": %s, \"name\": %s, \"value\": %s, \"unit\": %s, \"goal\": %s, \"pass\": %s}",
        quote($2), quote($3), $4, quote($5), $6 == "" ? "null" : quote($6), $7 == "-" ? "null" : $7 == "pass" ? "true" : "false"))
}
$1 == "series" {
    notes = notes sprintf("%s, %s (%s): %s\n", $2, $3, $4, $5)
    values = $5; gsub(/ /, ", ", values)
    series = list(series, sprintf("    {\"section\": %s, \"name\": %s, \"unit\": %s, \"values\": [%s]}",
        quote($2), quote($3), quote($4), values))
}
$1 == "error" {
    notes = notes sprintf("%s could not measure (exit status %s): its figures are missing\n", $2, $3)
    errors = errors (errors == "" ? "" : ", ") quote($2); failed = 1
}
END {
    printf "KV310 benchmarks, %s, %s cores (%s), load average %s before and %s after\n\n", date, cores, cpu, load_before, load_after
    row(1)
    rule = "|"
    for (c = 1; c <= 5; ++c) { dashes = sprintf("%" widths[c] + 2 "s", ""); gsub(/ /, "-", dashes); rule = rule (c == 3 ? substr(dashes, 2) ":" : dashes) "|" }
    print rule
    for (r = 2; r <= rows; ++r) row(r)
    printf "\n%s%s\n", notes, failed ? "Some goals were missed." : "Every goal was met."

    printf "{\n  \"date\": %s,\n  \"commit\": %s,\n  \"soak_minutes\": %d,\n", quote(date), quote(commit), minutes > json
    printf "  \"machine\": {\"cores\": %d, \"cpu\": %s, \"kernel\": %s, \"load_before\": %s, \"load_after\": %s},\n",
        cores, quote(cpu), quote(kernel), quote(load_before), quote(load_after) > json
    printf "  \"figures\": [\n%s\n  ],\n  \"series\": [\n%s\n  ],\n", figures, series > json
    printf "  \"could_not_measure\": [%s],\n  \"all_goals_met\": %s\n}\n", errors, failed ? "false" : "true" > json
    exit failed
}' "$results"
