#!/usr/bin/env bash
# Cross-builds the utility for 64-bit Windows with MinGW-w64, packages it and runs its tests
# under Wine over a pseudo-terminal. Qt for Windows is built from source once and cached.
#   scripts/windows.sh        everything
#   scripts/windows.sh qt     only Qt for Windows (into the cache)
#   scripts/windows.sh screenshot   after a run: docs/screenshot-windows.png, under Xvfb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

# An unknown word must not start the whole leg, which takes half an hour on a cold cache.
case $#:${1:-} in
0: | 1:qt | 1:screenshot) ;;
*)
    { echo "usage: $0 [qt|screenshot]"; sed -n 's/^#   scripts\/windows.sh/ /p' "$0"; } >&2
    exit 2
    ;;
esac

QT_VERSION=6.4.2
# Qt Serial Port 6.4.3 carries the fix for the Windows notifier's crash (QTBUG-108450) over 6.4.2.
SERIALPORT_VERSION=6.4.3
TOOLCHAIN=$PWD/packaging/windows/mingw-w64-x86_64.cmake
# Shared libraries with Qt's bundled third-party code; what the utility does not use is off:
# among others the Direct2D platform plugin (a second copy of the windows one) and the JPEG and
# GIF readers. Without Direct2D, Qt 6.4 leaves out its DirectWrite 3 font database but the
# windows plugin still refers to it, so that is off too (the plugin's default is GDI's).
# Debian's source leaves out the tablet library the windows plugin would include, and with
# OpenGL off the plugin's dynamic-GL code must be off too.
QT_OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
    -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF)
SERIALPORT_TARBALL=$PWD/third_party/qtserialport-everywhere-src-$SERIALPORT_VERSION.tar.xz
SERIALPORT_SHA256=1bf649bf99fc7fbd2aa8562069b64763bd406234994795896a2de4398a51f338
# The cache is keyed by the options, the toolchain and the module's source, so a change to any
# of them builds Qt anew.
QT_CACHE=${KV310_CACHE_DIR:-/var/cache/kv310-test}
QT_KEY=$({ printf '%s\n' "${QT_OPTIONS[@]}"; cat "$TOOLCHAIN"; echo "$SERIALPORT_SHA256"; } |
    sha256sum | cut -c1-12)
QT_PREFIX=$QT_CACHE/qt-$QT_VERSION-mingw-$QT_KEY
BUILD=$PWD/build-windows
JOBS=${KV310_JOBS:-2}

# The cross-compiler, Wine, Qt's build tools, the installer's compiler, and a virtual display
# (with xwininfo to see a window on it).
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 ninja-build dpkg-dev xz-utils unzip nsis
    xvfb xauth x11-utils)

# apt-get source with deb-src lines made from the host's own deb lines, in a private apt
# configuration: the system's sources stay as they are.
fetch_qtbase_source() {
    local dir=$1 codename apt=$1/apt
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    : >"$apt/sources.list"
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        grep -E "^deb[[:space:]].*[[:space:]]$codename([-/][a-z]+)?[[:space:]]" "$file" |
            sed 's/^deb[[:space:]]/deb-src /' >>"$apt/sources.list" || true
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        # One stanza a paragraph; only the distribution's own, as binary-only ones have no sources.
        awk -v codename="$codename" 'BEGIN { RS = ""; ORS = "\n\n" }
            $0 ~ "Suites:[^\n]*" codename { sub(/Types:[^\n]*/, "Types: deb-src"); print }' \
            "$file" >"$apt/sources.list.d/$(basename "$file")"
    done
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root")
    apt-get "${options[@]}" update -qq
    # The same release as the host's Qt, whose tools (moc, rcc, uic) the cross-build uses.
    local version
    version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    case $version in "$QT_VERSION"*) ;; *) echo "The host's Qt is $version, not $QT_VERSION" >&2; return 1 ;; esac
    (cd "$dir" && apt-get "${options[@]}" source -qq "qt6-base=$version")
}

build_qt() {
    if [ -x "$QT_PREFIX/bin/qt-cmake" ] && [ -f "$QT_PREFIX/lib/cmake/Qt6SerialPort/Qt6SerialPortConfig.cmake" ]; then
        echo "Qt $QT_VERSION for Windows: cached in $QT_PREFIX"
        return 0
    fi
    local work=$QT_PREFIX-work status=0
    echo "$SERIALPORT_SHA256  $SERIALPORT_TARBALL" | sha256sum --check --quiet ||
        { echo "$SERIALPORT_TARBALL is not the Qt Serial Port $SERIALPORT_VERSION release" >&2; return 1; }
    local started=$SECONDS
    rm -rf "$work" "$QT_PREFIX"
    mkdir -p "$work"
    echo "== Qt $QT_VERSION for Windows: fetching qtbase"
    fetch_qtbase_source "$work"
    local source
    source=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
    echo "== Qt $QT_VERSION for Windows: configuring qtbase"
    local log=$work/build.log
    cmake -S "$source" -B "$work/qtbase-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_INSTALL_PREFIX="$QT_PREFIX" "${QT_OPTIONS[@]}" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >"$log" 2>&1 ||
        { tail -n 40 "$log" >&2; return 1; }
    echo "== Qt $QT_VERSION for Windows: building qtbase (every 100th step shown; all in the log)"
    # Qt's own sources warn a lot under MinGW: the whole output goes to the log, and its tail is
    # shown if the build fails.
    ninja -C "$work/qtbase-build" -j "$JOBS" 2>&1 | tee -a "$log" |
        awk -v started="$(date +%s)" '/^\[[0-9]+\/[0-9]+\]/ {
            split(substr($1, 2), step, "/")
            if (step[1] % 100 == 0 || step[1] == step[2]) {
                "date +%s" | getline now; close("date +%s")
                printf "  %s %d s\n", $1, now - started; fflush()
            } }' || status=$?
    [ "$status" -eq 0 ] || { tail -n 40 "$log" >&2; return 1; }
    ninja -C "$work/qtbase-build" install >/dev/null
    echo "== Qt $QT_VERSION for Windows: Qt Serial Port $SERIALPORT_VERSION"
    tar -C "$work" -xf "$SERIALPORT_TARBALL"
    mkdir -p "$work/serialport-build"
    # The module asks for a Qt of its own release, 6.4.3; its source needs nothing that Debian's
    # qtbase 6.4.2 lacks, and Qt's own error message names this switch to take it.
    (cd "$work/serialport-build" &&
        "$QT_PREFIX/bin/qt-configure-module" "$work/qtserialport-everywhere-src-$SERIALPORT_VERSION" \
            -- -DQT_NO_PACKAGE_VERSION_CHECK=TRUE &&
        ninja -j "$JOBS" && ninja install) >>"$log" 2>&1 || { tail -n 40 "$log" >&2; return 1; }
    rm -rf "$work"
    echo "Qt $QT_VERSION for Windows built in $((SECONDS - started)) s: $(du -sh "$QT_PREFIX" | cut -f1)"
}

# The utility and the test driver for Windows, staged with what they load, and the zip.
build_windows() {
    echo "== Windows build"
    "$QT_PREFIX/bin/qt-cmake" -S . -B "$BUILD" -G Ninja -DQT_CHAINLOAD_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
    cmake --build "$BUILD" --parallel "$JOBS"
    rm -rf "$BUILD/stage" "$BUILD"/kv310-test-*-win64.zip
    cmake --install "$BUILD" --prefix "$BUILD/stage" >/dev/null
    cmake --install "$BUILD" --prefix "$BUILD/stage" --component driver >/dev/null
    (cd "$BUILD" && cpack -G ZIP >/dev/null)
    ls -l "$BUILD"/kv310-test-*-win64.zip
}

# Makes the prefix in DIR the current one, creating it when new.
start_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        "$WINESERVER" -w
    fi
}

# Ends the current prefix's wineserver, and whatever still runs in the prefix.
stop_wineserver() {
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w
}

# Runs a command with the environment that scripts/wine-driver.sh reads, for the Windows program
# named first; with_windows_driver, with the Windows test driver in place of the Linux one.
with_windows_program() {
    local program=$1
    shift
    KV310_WINE="$WINE" KV310_WINE_PORTS="$BUILD/wine/ports" KV310_WINE_DRIVER="$BUILD/stage/bin/$program" "$@"
}
with_windows_driver() {
    KV310_TEST_DRIVER="$PWD/scripts/wine-driver.sh" with_windows_program kv310-test-driver.exe "$@"
}

# A private prefix whose COM1 and COM2 lead to links that the tests point at their lines.
make_prefix() {
    local prefix=$BUILD/wine/prefix ports=$BUILD/wine/ports
    mkdir -p "$ports"
    start_prefix "$prefix"
    for port in 1 2; do
        "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /t REG_SZ /d "$ports/com$port" /f >/dev/null 2>&1
    done
    # The mapping is read when the server starts. The server takes the lines as its controlling
    # terminal, and lists its objects when one hangs up: that goes nowhere. It opens the devices
    # too: as root it runs without CAP_SYS_ADMIN, which would let it into a terminal that another
    # program holds exclusively, where an ordinary user is kept out.
    stop_wineserver
    local server=("$WINESERVER" -p)
    [ "$(id -u)" -ne 0 ] || server=(setpriv --bounding-set -sys_admin --inh-caps -sys_admin "${server[@]}")
    "${server[@]}" 2>/dev/null
}

run_tests() {
    echo "== Tests under Wine"
    kv310_build build "$BUILD/host" --target tst_end_to_end tst_check tst_station kv310-sim
    make_prefix
    QT_QPA_PLATFORM=offscreen with_windows_driver "$BUILD/host/bin/tst_end_to_end"
    # The check's console program, through the same COM1 mapping.
    QT_QPA_PLATFORM=offscreen KV310_TEST_CHECK="$PWD/scripts/wine-driver.sh" \
        with_windows_program kv310-check.exe "$BUILD/host/bin/tst_check"
    # The station, one shift, in the same console program.
    QT_QPA_PLATFORM=offscreen KV310_TEST_STATION="$PWD/scripts/wine-driver.sh" \
        with_windows_program kv310-check.exe "$BUILD/host/bin/tst_station"
    stop_wineserver
}

# The version the packages carry, from CPack's configuration of the build.
check_version() {
    local version expected
    expected=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$BUILD/CPackConfig.cmake")
    version=$("$WINE" "$1" --version | tr -d '\r')
    if [ -z "$expected" ] || [ "$version" != "kv310-test $expected" ]; then
        echo "--version answered '$version', not 'kv310-test $expected'" >&2
        return 1
    fi
    echo "$version"
}

# The zip unpacked into an empty folder of a fresh prefix: --version answers and the window opens.
check_zip() {
    echo "== The zip in a fresh prefix"
    local fresh=$BUILD/wine/fresh
    rm -rf "$fresh"
    mkdir -p "$fresh/unpacked"
    start_prefix "$fresh/prefix"
    unzip -q "$BUILD"/kv310-test-*-win64.zip -d "$fresh/unpacked"
    local exe
    exe=$(find "$fresh/unpacked" -name kv310-test.exe)
    check_version "$exe"
    check_version "$(dirname "$exe")/kv310-check.exe"
    # The window, on a display of its own: Wine shows it as an X window with its title. The
    # prefix's desktop started above without a display: it must go first.
    stop_wineserver
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$0" "$1" & program=$!
        for _ in $(seq 120); do
            if xwininfo -root -tree | grep -q "\"Veltor Serial LCD test utility\""; then kill $program; exit 0; fi
            sleep 1
        done
        xwininfo -root -tree | grep -v "has no name" >&2
        kill $program; exit 1' "$WINE" "$exe" ||
        { echo "The window did not open" >&2; return 1; }
    echo "The window opened"
    stop_wineserver
}

# The installer: silent install into a fresh prefix, its Start-menu entry, and a clean uninstall.
check_installer() {
    echo "== The installer in a fresh prefix"
    (cd "$BUILD" && cpack -G NSIS64 >/dev/null)
    local installer fresh=$BUILD/wine/installer
    installer=$(ls "$BUILD"/kv310-test-*-win64.exe)
    rm -rf "$fresh"
    start_prefix "$fresh"
    "$WINE" "$installer" /S
    "$WINESERVER" -w
    local installed="$fresh/drive_c/Program Files/kv310-test"
    [ -f "$installed/bin/kv310-test.exe" ] || { echo "Not installed" >&2; return 1; }
    [ -f "$installed/bin/kv310-check.exe" ] || { echo "kv310-check.exe not installed" >&2; return 1; }
    [ ! -e "$installed/bin/kv310-test-driver.exe" ] || { echo "The test driver was installed" >&2; return 1; }
    find "$fresh/drive_c" -name 'KV310 test utility.lnk' | grep -q . ||
        { echo "No Start-menu entry" >&2; return 1; }
    check_version "$installed/bin/kv310-test.exe"
    "$WINESERVER" -w
    grep -q 'Uninstall\\\\kv310-test' "$fresh/system.reg" || { echo "Not in the installed programs" >&2; return 1; }
    "$WINE" "$installed/Uninstall.exe" /S
    "$WINESERVER" -w
    sleep 2
    "$WINESERVER" -w
    [ ! -e "$installed" ] || { echo "Left behind: $(find "$installed")" >&2; return 1; }
    ! find "$fresh/drive_c" -name 'KV310 test utility.lnk' | grep -q . ||
        { echo "The Start-menu entry stayed" >&2; return 1; }
    ! grep -q 'kv310-test' "$fresh/system.reg" || { echo "Left in the registry" >&2; return 1; }
    echo "Installed, started and uninstalled"
    stop_wineserver
}

# The README's screenshot of the Windows build under Wine, beside the simulated unit.
screenshot() {
    kv310_install xdotool imagemagick
    make_prefix
    with_windows_driver xvfb-run -a -s "-screen 0 1024x768x24" \
        scripts/readme-screenshot.sh "$BUILD/host/bin" docs/screenshot-windows.png
    stop_wineserver
}

kv310_install "${KV310_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
build_qt
[ "${1:-}" = qt ] && exit 0
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
started=$SECONDS
if [ "${1:-}" = screenshot ]; then
    screenshot
    exit 0
fi
build_windows
run_tests
check_zip
check_installer
echo "windows.sh took $((SECONDS - started)) s after Qt"
