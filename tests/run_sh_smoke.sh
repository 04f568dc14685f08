#!/usr/bin/env bash
# ./run.sh --smoke as a new user runs it: status 0 once both programs are up, and nothing on
# standard error that reads as a failure, its clean-up included (a display ended before the
# programs makes each say that its X11 connection broke).
set -uo pipefail
source_dir=${1:?usage: run_sh_smoke.sh SOURCE_DIR}
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 300 "$source_dir/run.sh" --smoke 2>"$errors")
status=$?
fail() { echo "FAIL: $*; output: $output; standard error: $(cat "$errors")" >&2; exit 1; }
[ "$status" -eq 0 ] || fail "run.sh --smoke exited with status $status"
grep -q "^run.sh: both programs are up" <<<"$output" || fail "no line says both programs are up"
! grep -qi "X11 connection broke" "$errors" - <<<"$output" || fail "a program lost its display"
! grep -qiE "error|fail|broke|abort|die|could not|cannot|warning" "$errors" ||
    fail "standard error reads as a failure"
echo "run.sh --smoke: status 0, $(grep "both programs are up" <<<"$output")"
