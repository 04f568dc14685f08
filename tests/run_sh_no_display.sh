#!/usr/bin/env bash
# ./run.sh without a display must fail at once with one line that says why and what to do, and
# an argument it does not know must be refused with its usage, both before it builds or starts
# anything.
set -uo pipefail
source_dir=${1:?usage: run_sh_no_display.sh SOURCE_DIR}
output=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$source_dir/run.sh" 2>&1)
status=$?
fail() { echo "FAIL: $*; output: $output" >&2; exit 1; }
[ "$status" -ne 0 ] || fail "run.sh exited with status 0"
[ "$status" -ne 124 ] || fail "run.sh did not stop at once"
[ "$(wc -l <<<"$output")" -eq 1 ] || fail "expected one line"
grep -q "no display" <<<"$output" || fail "the line does not say there is no display"
grep -q "desktop session" <<<"$output" || fail "the line does not say what to use instead"
grep -qF -- "./run.sh --smoke" <<<"$output" || fail "the line does not offer the smoke run"
echo "run.sh without a display: status $status, \"$output\""

output=$(timeout 20 "$source_dir/run.sh" --no-such-option 2>&1)
status=$?
[ "$status" -eq 2 ] || fail "run.sh with an unknown option: status $status, not 2"
grep -q "^usage: .*--smoke" <<<"$output" || fail "run.sh with an unknown option gives no usage"
