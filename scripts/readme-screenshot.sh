#!/usr/bin/env bash
# The simulated unit and the utility side by side after Banner and a key poll with keys 1 and 3
# latched down, for the README. Needs an X display (e.g. xvfb-run -s '-screen 0 1024x768x24'),
# xdotool and ImageMagick's import: apt-get install xvfb xauth xdotool imagemagick.
# KV310_TEST_DRIVER, when set, starts the utility's driver another way (the Windows build under
# Wine, see scripts/windows.sh).
set -euo pipefail
bin=${1:-build/bin}
out=${2:-docs/screenshot.png}
for tool in xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "readme-screenshot.sh: needs $tool (apt-get install xdotool imagemagick)" >&2
        exit 1
    }
done
[ -n "${DISPLAY:-}" ] || { echo "readme-screenshot.sh: needs an X display, e.g. under xvfb-run" >&2; exit 1; }
scratch=$(mktemp -d)
link=$scratch/kv310
pids=()
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
exec {sim_out}< <(exec "$bin/kv310-sim" --link "$link")
pids+=($!)
read -r -t 10 _ <&"$sim_out"
cat <&"$sim_out" >/dev/null &
coproc DRIVER { KV310_COM1="$link" exec "${KV310_TEST_DRIVER:-$bin/kv310-test-driver}"; }
pids+=("$DRIVER_PID")
say() { echo "$1" >&"${DRIVER[1]}"; read -r -t 10 _ <&"${DRIVER[0]}"; }
read -r -t 60 _ <&"${DRIVER[0]}" # ready; under Wine that takes seconds
sleep 1
# Wine places its windows itself: the utility goes to the left edge, as it starts elsewhere.
xdotool search --name "Veltor Serial LCD test utility" | head -1 | xargs -r -I{} xdotool windowmove {} 0 0
sim_win=$(xdotool search --name "KV310 simulator" | head -1)
xdotool windowmove "$sim_win" 345 0
sleep 0.5
# A right-click latches a key; a left click would only tap it.
xdotool mousemove --window "$sim_win" 64 185 click 3
xdotool mousemove --window "$sim_win" 300 185 click 3
xdotool mousemove 1000 700
say "click optBaud(1)"
say "click cmdCom"
say "click cmdBanner"
say "click cmdPollKey"
sleep 1
say "text Hello"
import -window root "$out"
say "close"
