#!/usr/bin/env bash
# Installs what is missing, builds, and starts the simulated unit with the utility on its line.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

kv310_install
KV310_TARGETS="kv310-test kv310-sim" kv310_build build

link="${XDG_RUNTIME_DIR:-/tmp}/kv310-sim-$$"
sim_args=(--link "$link")
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || sim_args+=(--headless)

# The simulator prints its line's path first; wait for it before the utility opens the port.
fifo=$(mktemp -u)
mkfifo "$fifo"
build/bin/kv310-sim "${sim_args[@]}" >"$fifo" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; rm -f "$fifo"' EXIT
exec {sim_out}<"$fifo"
read -r -t 10 slave <&"$sim_out" || { echo "The simulated unit did not start" >&2; exit 1; }
# Keep reading what it prints, so a full pipe never holds it up.
cat <&"$sim_out" >/dev/null &
echo "Simulated KV310 on $slave (also $link); the utility's com1 is wired to it."

# Either window closing ends the other.
KV310_COM1="$link" build/bin/kv310-test &
utility_pid=$!
trap 'kill "$sim_pid" "$utility_pid" 2>/dev/null || true; rm -f "$fifo"' EXIT
wait -n "$sim_pid" "$utility_pid" || true
