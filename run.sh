#!/usr/bin/env bash
# Installs what is missing, builds, and starts the simulated unit with the utility on its line.
#   ./run.sh           both windows, until either closes
#   ./run.sh --smoke   both on a virtual display of their own: ends with status 0 once both
#                      windows are up, the utility's com1 wired to the unit's line
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    echo "usage: $0 [--smoke]" >&2
    exit 2
}
smoke=false
case $# in
0) ;;
1) if [ "$1" = --smoke ]; then smoke=true; else usage; fi ;;
*) usage ;;
esac

# Both programs open windows: say so before anything is installed or built.
if ! $smoke && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); use a desktop session, or ./run.sh --smoke to check that both programs start" >&2
    exit 1
fi

source scripts/common.sh
packages=("${KV310_PACKAGES[@]}")
# The virtual display, and xwininfo to see the windows on it.
! $smoke || packages+=(xvfb x11-utils)
kv310_install "${packages[@]}"
kv310_build build --target kv310-test kv310-sim

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
programs=()
display_pid=
# The programs end first and the display after them: a program whose display goes first says
# that its X11 connection broke.
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
    if [ "${#programs[@]}" -gt 0 ]; then
        kill "${programs[@]}" 2>/dev/null || true
        wait "${programs[@]}" 2>/dev/null || true
    fi
    if [ -n "$display_pid" ]; then
        kill "$display_pid" 2>/dev/null || true
        wait "$display_pid" 2>/dev/null || true
    fi
    [ -z "$own_runtime_dir" ] || rm -rf "$own_runtime_dir"
}
trap cleanup EXIT

if $smoke; then
    # Xvfb names its display once it takes connections.
    exec {xvfb_out}< <(exec Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 2>/dev/null)
    display_pid=$!
    read -r -t 20 display <&"$xvfb_out" || { echo "run.sh: the virtual display did not start" >&2; exit 1; }
    export DISPLAY=:$display
    unset WAYLAND_DISPLAY
fi

# The simulator makes its link once its line is open: the utility opens the port after that.
build/bin/kv310-sim --link "$link" >/dev/null &
sim=$!
programs+=("$sim")
for _ in $(seq 100); do
    if [ -L "$link" ] || ! kill -0 "$sim" 2>/dev/null; then break; fi
    sleep 0.1
done
[ -L "$link" ] || { echo "run.sh: the simulated unit did not start" >&2; exit 1; }
echo "Simulated KV310 on $(readlink "$link") (also $link); the utility's com1 is wired to it."

KV310_COM1="$link" build/bin/kv310-test &
utility=$!
programs+=("$utility")

if $smoke; then
    shown() { xwininfo -root -tree | grep -qF "\"$1\""; }
    for _ in $(seq 300); do
        kill -0 "$sim" 2>/dev/null || { echo "run.sh: kv310-sim ended early" >&2; exit 1; }
        kill -0 "$utility" 2>/dev/null || { echo "run.sh: kv310-test ended early" >&2; exit 1; }
        if shown "KV310 simulator" && shown "Veltor Serial LCD test utility"; then
            echo "run.sh: both programs are up, linked through $link"
            exit 0
        fi
        sleep 0.1
    done
    echo "run.sh: the windows did not show within 30 s" >&2
    exit 1
fi

# Either window closing ends the other; either program failing fails the run.
status=0
wait -n -p ended "$sim" "$utility" || status=$?
if [ "$status" -ne 0 ]; then
    program=kv310-test
    [ "$ended" = "$sim" ] && program=kv310-sim
    echo "run.sh: $program ended with status $status" >&2
fi
exit "$status"
