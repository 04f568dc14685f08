# shellcheck shell=bash
# Shared by run.sh, test.sh, bench.sh, scripts/windows.sh and scripts/test-debian.sh: installs
# what is missing and builds.

# Debian packages the build and the windows need.
# shellcheck disable=SC2034 # for the scripts that source this
readonly KV310_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev
    libqt6serialport6 qt6-qpa-plugins fonts-liberation2)
# What ./test.sh needs besides: the package test builds the .deb (dpkg-shlibdeps, file) and
# checks it, its desktop entries, metainfo and manual pages; xvfb and xauth are for runs under
# xvfb-run, and xwininfo (x11-utils) reads the size of a window there; weston, xwayland and
# qt6-wayland give the window a Wayland desktop with XWayland, as GNOME's default session has.
# shellcheck disable=SC2034 # for the scripts that source this
readonly KV310_TEST_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream groff-base xvfb
    xauth x11-utils weston xwayland qt6-wayland)

# kv310_install PACKAGE...: installs those of the Debian packages named that are missing (as
# root), or names them and fails.
kv310_install() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        DEBIAN_FRONTEND=noninteractive apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
}

# kv310_build PRESET [DIR] [--target TARGET...]: configures with the CMake preset (build,
# build-sanitize or build-release, in CMakePresets.json), in DIR instead of the preset's own folder
# when given, and builds everything, or only the targets named.
kv310_build() {
    local preset=$1 dir=
    shift
    if [ $# -gt 0 ] && [ "$1" != --target ]; then
        dir=$1
        shift
    fi
    if [ -n "$dir" ]; then
        cmake --preset "$preset" -B "$dir" >/dev/null
        cmake --build "$dir" --parallel "$(nproc)" "$@"
    else
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset" --parallel "$(nproc)" "$@"
    fi
}
