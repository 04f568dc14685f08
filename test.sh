#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: once in the normal build, once
# in a build with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

kv310_install "${KV310_PACKAGES[@]}" "${KV310_TEST_PACKAGES[@]}"
export QT_QPA_PLATFORM=offscreen
started=$SECONDS

echo "== Normal build"
kv310_build build -DBUILD_TESTING=ON
(cd build && ctest --output-on-failure --timeout 600 -j2)

echo "== Sanitizer build"
kv310_build build-sanitize -DBUILD_TESTING=ON -DKV310_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
# Every report ends the process with a failure, including reports in child processes.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:exitcode=86:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0:exitcode=88"
(cd build-sanitize && ctest --output-on-failure --timeout 900 -j2 -E '^package$')

echo "test.sh took $((SECONDS - started)) s"
