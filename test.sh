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
kv310_build build
ctest --preset build

echo "== Sanitizer build"
kv310_build build-sanitize
# Its test preset makes every sanitizer report end the process with a failure, in child
# processes too, and leaves the package out.
ctest --preset build-sanitize

echo "test.sh took $((SECONDS - started)) s"
