#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks where its files land, both from the
# package itself and from `cmake --install` into a temporary root.
set -euo pipefail
build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

expected=(
    usr/bin/kv310-test
    usr/bin/kv310-sim
    usr/share/applications/kv310-test.desktop
    usr/share/applications/kv310-sim.desktop
    usr/share/icons/hicolor/16x16/apps/kv310-test.png
    usr/share/icons/hicolor/32x32/apps/kv310-test.png
    usr/share/icons/hicolor/scalable/apps/kv310-test.svg
)
fail() { echo "FAIL: $*" >&2; exit 1; }
check_tree() {
    for file in "${expected[@]}"; do
        [ -f "$1/$file" ] || fail "$2: $file is missing"
    done
    [ -x "$1/usr/bin/kv310-test" ] || fail "$2: kv310-test is not executable"
}

cmake --install "$build" --prefix "$work/root/usr" >/dev/null
check_tree "$work/root" "cmake --install"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/*.deb)
dpkg-deb -x "$deb" "$work/deb"
check_tree "$work/deb" "package"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || fail "package does not depend on $needed: $depends"
done
grep -q '^Exec=kv310-test$' "$work/deb/usr/share/applications/kv310-test.desktop" ||
    fail "desktop entry does not start kv310-test"
echo "package $(basename "$deb"): ${#expected[@]} files in place; Depends: $depends"
