#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it as Debian and a user would: where its
# files land (from the package and from `cmake --install`), lintian, the desktop entries, the
# AppStream metainfo, the manual pages, and both programs' command line without a display.
set -euo pipefail
build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

metainfo=usr/share/metainfo/eu.veltorlcd.kv310_test.metainfo.xml
expected=(
    usr/bin/kv310-test
    usr/bin/kv310-sim
    usr/share/applications/kv310-test.desktop
    usr/share/applications/kv310-sim.desktop
    usr/share/icons/hicolor/16x16/apps/kv310-test.png
    usr/share/icons/hicolor/32x32/apps/kv310-test.png
    usr/share/icons/hicolor/scalable/apps/kv310-test.svg
    usr/share/man/man1/kv310-test.1.gz
    usr/share/man/man1/kv310-sim.1.gz
    usr/share/doc/kv310-test/copyright
    usr/share/doc/kv310-test/changelog.gz
    "$metainfo"
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
root=$work/deb
check_tree "$root" "package"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || fail "package does not depend on $needed: $depends"
done
grep -q '^Exec=kv310-test$' "$root/usr/share/applications/kv310-test.desktop" ||
    fail "desktop entry does not start kv310-test"

# Lintian: information tags are allowed, errors and warnings are not; nor is any hardening tag,
# of whatever level.
lintian_out=$(lintian --fail-on error,warning --pedantic --display-info --tag-display-limit 0 "$deb" 2>"$work/lintian.err") ||
    fail "lintian: $lintian_out$(cat "$work/lintian.err")"
! grep -q 'hardening-' <<<"$lintian_out" || fail "lintian: $lintian_out"

# The hardening flags took effect: position-independent, read-only relocations bound at start,
# the stack protector and fortified calls.
for program in kv310-test kv310-sim; do
    binary=$root/usr/bin/$program
    readelf -hW "$binary" | grep -q 'Type: *DYN' || fail "$program is not position-independent"
    readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program has no RELRO segment"
    readelf -dW "$binary" | grep -q 'FLAGS_1.*NOW' || fail "$program is not linked with -z now"
    symbols=$(readelf --dyn-syms -W "$binary")
    grep -q __stack_chk_fail <<<"$symbols" || fail "$program has no stack protector"
    grep -qE '__[a-z]+_chk\b' <<<"$symbols" || fail "$program calls no fortified function"
done

for entry in "$root"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate: $entry"
done
appstream_out=$(appstreamcli validate --no-net "$root/$metainfo" 2>&1) ||
    fail "appstreamcli validate: $appstream_out"
! grep -E '^[EW]: ' <<<"$appstream_out" || fail "appstreamcli reports errors or warnings"

# The version in project() is the one the package, the programs and the manual pages carry.
version=$(dpkg-deb -f "$deb" Version)
for page in kv310-test kv310-sim; do
    warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page(1) does not render cleanly: $warnings"
    zcat "$root/usr/share/man/man1/$page.1.gz" | head -1 | grep -qF "$version" ||
        fail "$page(1) does not carry version $version"
done
zcat "$root/usr/share/doc/kv310-test/changelog.gz" | head -1 | grep -qF "($version)" ||
    fail "the changelog's newest entry is not $version"
grep -qF "<release version=\"$version\"" "$root/$metainfo" ||
    fail "the metainfo has no release $version"

# Over ssh, in a script or in CI there is no display: --help and --version still answer, and an
# unknown option is refused with status 2 rather than a window or Qt's abort.
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
for program in kv310-test kv310-sim; do
    binary=$root/usr/bin/$program
    [ "$(no_display "$binary" --version)" = "$program $version" ] ||
        fail "$program --version does not print '$program $version'"
    no_display "$binary" --help | grep -q -- '--version' || fail "$program --help"
    status=0
    no_display "$binary" --no-such-option >/dev/null 2>"$work/stderr" || status=$?
    [ "$status" -eq 2 ] || fail "$program with an unknown option: status $status, not 2"
    grep -q "no-such-option" "$work/stderr" || fail "$program does not name the unknown option"
done
# Qt's standard options are taken with their values, and the window opens as usual: status 124
# is a program still up when timeout ended it. Mistakes and --version still need no display.
for program in kv310-test kv310-sim; do
    while read -r expected platform arguments; do
        status=0
        # shellcheck disable=SC2086 # the platform and the arguments are words
        no_display ${platform#-} timeout 3 "$root/usr/bin/$program" $arguments >/dev/null \
            2>"$work/stderr" || status=$?
        [ "$status" -eq "$expected" ] ||
            fail "$program $arguments: status $status, not $expected: $(cat "$work/stderr")"
    done <<'ROWS'
124 - -platform offscreen
124 QT_QPA_PLATFORM=offscreen -style Fusion
124 QT_QPA_PLATFORM=offscreen -qwindowgeometry 100x100
2 - --bogus
2 - -platform
0 - --version
ROWS
    no_display "$root/usr/bin/$program" --help | grep -q "Qt's standard options" ||
        fail "$program --help does not say that Qt's standard options are accepted"
done
# -qwindowgeometry moves the utility's window but leaves its fixed size; up to 30 s for each window.
window_size() {
    "$@" >/dev/null 2>&1 &
    for _ in $(seq 300); do
        size=$(xwininfo -root -tree | grep -o '"Veltor Serial LCD test utility".* [0-9]*x[0-9]*+40+50') &&
            break
        sleep 0.1
    done
    kill $!
    echo "${size##* }"
}
utility=$root/usr/bin/kv310-test
sizes=$(xvfb-run -a bash -c "$(declare -f window_size); window_size $utility -platform xcb -qwindowgeometry +40+50;
                             window_size $utility -platform xcb -qwindowgeometry 100x100+40+50")
mapfile -t found <<<"$sizes"
[[ -n ${found[0]} && ${found[0]} == "${found[1]:-}" ]] ||
    fail "kv310-test -qwindowgeometry: ${found[0]} without a size, ${found[1]:-} with 100x100"
no_display "$root/usr/bin/kv310-test" --help | grep -q 'KV310_COM1.*/dev/ttyS0' ||
    fail "kv310-test --help does not tell KV310_COM1 and its default"

echo "package $(basename "$deb"): ${#expected[@]} files in place; Depends: $depends"
echo "lintian:"
echo "${lintian_out:-  no tags}"
