#!/usr/bin/env bash
# Installs what is missing, builds, and starts the simulated unit with the utility on its line.
set -euo pipefail
cd "$(dirname "$0")"

# Both programs open windows: say so before anything is installed or built.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); use a desktop session (xvfb-run ./run.sh is only a smoke run: nobody sees it)" >&2
    exit 1
fi

source scripts/common.sh
kv310_install
KV310_TARGETS="kv310-test kv310-sim" kv310_build build

# Without a runtime directory (root in a bare shell, for one) Qt warns and picks its own; give
# both programs a private one instead.
own_runtime_dir=
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    own_runtime_dir=$(mktemp -d)
    export XDG_RUNTIME_DIR=$own_runtime_dir
fi
# Qt sends its messages to the journal when standard error is not a terminal; a failure to
# start must show here.
export QT_FORCE_STDERR_LOGGING=1
link="$XDG_RUNTIME_DIR/kv310-sim-$$"
# The fifo lives in a directory of our own: a name from mktemp -u could be taken before mkfifo.
fifo_dir=$(mktemp -d)
fifo=$fifo_dir/sim-out
pids=()
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    rm -rf "$fifo_dir"
    [ -z "$own_runtime_dir" ] || rm -rf "$own_runtime_dir"
}
trap cleanup EXIT

# The simulator prints its line's path first; wait for it before the utility opens the port.
mkfifo "$fifo"
build/bin/kv310-sim --link "$link" >"$fifo" &
pids+=($!)
exec {sim_out}<"$fifo"
read -r -t 10 slave <&"$sim_out" || { echo "run.sh: the simulated unit did not start" >&2; exit 1; }
# Keep reading what it prints, so a full pipe never holds it up.
cat <&"$sim_out" >/dev/null &
echo "Simulated KV310 on $slave (also $link); the utility's com1 is wired to it."

# Either window closing ends the other; either program failing fails the run.
KV310_COM1="$link" build/bin/kv310-test &
pids+=($!)
status=0
wait -n -p ended "${pids[@]}" || status=$?
if [ "$status" -ne 0 ]; then
    program=kv310-test
    [ "$ended" = "${pids[0]}" ] && program=kv310-sim
    echo "run.sh: $program ended with status $status" >&2
fi
exit "$status"
