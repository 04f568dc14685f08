#!/usr/bin/env bash
# Cross-builds the utility for 64-bit Windows with MinGW-w64, packages it and runs its tests
# under Wine over a pseudo-terminal. Qt for Windows is built from source once and cached.
#   scripts/windows.sh        everything
#   scripts/windows.sh qt     only Qt for Windows (into the cache)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

QT_VERSION=6.4.2
QT_CACHE=${KV310_QT_CACHE:-/var/cache/kv310-test}
QT_PREFIX=$QT_CACHE/qt-$QT_VERSION-mingw
TOOLCHAIN=$PWD/packaging/windows/mingw-w64-x86_64.cmake
SERIALPORT_TARBALL=${KV310_THIRD_PARTY:-../shared/third_party}/qtserialport-everywhere-src-$QT_VERSION.tar.xz
BUILD=$PWD/build-windows
JOBS=${KV310_JOBS:-2}

KV310_PACKAGES+=(g++-mingw-w64-x86-64-posix wine64 ninja-build dpkg-dev xz-utils zip)

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
    local work=$QT_CACHE/qt-$QT_VERSION-mingw-work
    local started=$SECONDS
    rm -rf "$work" "$QT_PREFIX"
    mkdir -p "$work"
    echo "== Qt $QT_VERSION for Windows: fetching qtbase"
    fetch_qtbase_source "$work"
    local source
    source=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
    echo "== Qt $QT_VERSION for Windows: configuring qtbase"
    # Shared libraries with Qt's bundled third-party code; what the utility does not use is off.
    # Debian's source leaves out the tablet library the windows plugin would include, and with
    # OpenGL off the plugin's dynamic-GL code must be off too.
    cmake -S "$source" -B "$work/qtbase-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$QT_PREFIX" -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF
    echo "== Qt $QT_VERSION for Windows: building qtbase"
    ninja -C "$work/qtbase-build" -j "$JOBS"
    ninja -C "$work/qtbase-build" install >/dev/null
    echo "== Qt $QT_VERSION for Windows: Qt Serial Port"
    tar -C "$work" -xf "$SERIALPORT_TARBALL"
    mkdir -p "$work/serialport-build"
    (cd "$work/serialport-build" &&
        "$QT_PREFIX/bin/qt-configure-module" "$work/qtserialport-everywhere-src-$QT_VERSION" &&
        ninja -j "$JOBS" && ninja install >/dev/null)
    rm -rf "$work"
    echo "Qt $QT_VERSION for Windows built in $((SECONDS - started)) s: $(du -sh "$QT_PREFIX" | cut -f1)"
}

kv310_install
build_qt
[ "${1:-}" = qt ] && exit 0
