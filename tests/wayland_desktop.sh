#!/usr/bin/env bash
# On a Wayland desktop with XWayland, as Debian's default session is, the utility runs as an X11
# client, so that the desktop draws its title bar: the whole caption and a close button only
# (close-only Motif hints, minimum size = maximum size). With -platform wayland it is a native
# Wayland client, as the user asked. Runs under a headless Weston of its own; skips (status 77)
# only when Weston cannot start. With SCREENSHOT, saves the X11 run's desktop there.
set -uo pipefail
program=${1:?usage: wayland_desktop.sh KV310_TEST [SCREENSHOT]}
screenshot=${2:-}
caption="Veltor Serial LCD test utility"

runtime=$(mktemp -d)
chmod 700 "$runtime"
weston_pid=
utility_pid=
# The programs first, the desktop after them.
cleanup() {
    [ -z "$utility_pid" ] || { kill "$utility_pid" 2>/dev/null; wait "$utility_pid" 2>/dev/null; }
    [ -z "$weston_pid" ] || { kill "$weston_pid" 2>/dev/null; wait "$weston_pid" 2>/dev/null; }
    rm -rf "$runtime"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# In the sanitizer build: libxkbcommon-x11 1.5 reads XWayland's keymap names through strndup()
# past their reply's end, which AddressSanitizer's strndup check takes for the program's fault.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
export XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=kv310-wayland
unset DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
# Weston 10 (Debian 12) names its backend by the module, later ones by its name; the
# screenshooter answers only with --debug, and has pixels only from the pixman renderer.
display=
# Each is tried twice: a first start can lose a race for the X display's lock.
for backend in headless-backend.so headless-backend.so headless headless; do
    weston --backend="$backend" --xwayland --socket="$WAYLAND_DISPLAY" --width=1024 \
        --height=768 --idle-time=0 ${screenshot:+--use-pixman --debug} --log="$runtime/weston.log" \
        >/dev/null 2>&1 &
    weston_pid=$!
    for _ in $(seq 100); do
        display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$runtime/weston.log" 2>/dev/null)
        [ -n "$display" ] || ! kill -0 "$weston_pid" 2>/dev/null || { sleep 0.1; continue; }
        break
    done
    [ -z "$display" ] || break
    kill "$weston_pid" 2>/dev/null
    wait "$weston_pid" 2>/dev/null
    weston_pid=
done
if [ -z "$display" ]; then
    echo "SKIP: a headless Weston with XWayland could not start here:" >&2
    tail -n 5 "$runtime/weston.log" >&2 2>/dev/null
    exit 77
fi
export DISPLAY=$display

# The utility's X11 window: the window manager's frame is its parent, so the window itself is the
# one that carries the caption as WM_NAME.
x11_window() { xwininfo -root -tree 2>/dev/null | grep -F "\"$caption\"" | awk '{print $1}' | head -n 1; }

"$program" 2>"$runtime/x11.err" &
utility_pid=$!
window=
for _ in $(seq 300); do
    window=$(x11_window)
    [ -z "$window" ] && kill -0 "$utility_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$window" ] || fail "no X11 window \"$caption\" under XWayland; stderr: $(cat "$runtime/x11.err")"
properties=$(xprop -id "$window" WM_NAME _NET_WM_NAME _MOTIF_WM_HINTS WM_NORMAL_HINTS)
echo "$properties"
grep -qF "_NET_WM_NAME(UTF8_STRING) = \"$caption\"" <<<"$properties" || fail "the caption is not whole"
# Motif hints: flags (1 functions, 2 decorations given), functions (1 all but those named, 8
# minimise, 16 maximise, 32 close), decorations (1 all but those named, 8 title, 32 minimise
# button, 64 maximise button).
motif=$(sed -n 's/^_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = //p' <<<"$properties")
IFS=', ' read -r -a hints <<<"${motif:-0, 0, 0}"
(((hints[0] & 3) == 3 && (hints[1] & 0x39) == 0x20 && (hints[2] & 0x69) == 0x08)) ||
    fail "the Motif hints are not close-only with a title: '$motif'"
minimum=$(sed -n 's/.*program specified minimum size: //p' <<<"$properties")
maximum=$(sed -n 's/.*program specified maximum size: //p' <<<"$properties")
[ -n "$minimum" ] && [ "$minimum" = "$maximum" ] || fail "minimum size '$minimum' is not the maximum '$maximum'"
echo "X11 under XWayland: window $window, fixed size $minimum, Motif hints $motif"

if [ -n "$screenshot" ]; then
    sleep 1
    (cd "$runtime" && timeout 20 weston-screenshooter >/dev/null 2>&1)
    shot=$(ls "$runtime"/wayland-screenshot-*.png 2>/dev/null | head -n 1)
    [ -n "$shot" ] && cp "$shot" "$screenshot" && echo "screenshot: $screenshot"
fi
kill "$utility_pid"
wait "$utility_pid" 2>/dev/null
utility_pid=

# The user's choice: a Wayland window, asked for by its title on the Wayland connection.
WAYLAND_DEBUG=client "$program" -platform wayland 2>"$runtime/wayland.err" &
utility_pid=$!
for _ in $(seq 300); do
    grep -qF "set_title(\"$caption\")" "$runtime/wayland.err" || ! kill -0 "$utility_pid" 2>/dev/null && break
    sleep 0.1
done
grep -qF "set_title(\"$caption\")" "$runtime/wayland.err" ||
    fail "-platform wayland made no Wayland window; stderr: $(grep -v '^\[' "$runtime/wayland.err" | tail -n 5)"
sleep 0.5
kill -0 "$utility_pid" 2>/dev/null || fail "-platform wayland: the utility ended"
[ -z "$(x11_window)" ] || fail "-platform wayland made an X11 window"
echo "-platform wayland: a Wayland window, no X11 window"
