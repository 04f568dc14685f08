# shellcheck shell=bash
# Shared by run.sh, test.sh and bench.sh: installs what is missing and builds.

# Debian packages the build and the windows need.
KV310_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libqt6serialport6
    qt6-qpa-plugins fonts-liberation2)
# What ./test.sh needs besides: the package test builds the .deb (dpkg-shlibdeps, file) and
# checks it, its desktop entries, metainfo and manual pages; xvfb and xauth are for a smoke run
# of ./run.sh under xvfb-run.
# shellcheck disable=SC2034 # added by test.sh
KV310_TEST_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream groff-base xvfb xauth)

kv310_missing_packages() {
    local missing=()
    for package in "${KV310_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    echo "${missing[@]}"
}

kv310_install() {
    local missing
    missing=$(kv310_missing_packages)
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: $missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        # shellcheck disable=SC2086
        apt-get install -y -qq --no-install-recommends $missing
    else
        echo "Missing Debian packages: $missing" >&2
        echo "Install them with: sudo apt-get install $missing" >&2
        return 1
    fi
}

# kv310_build DIR [cmake options...]; KV310_TARGETS, when set, limits what is built.
kv310_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${KV310_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
    local targets=()
    local names=()
    read -ra names <<<"${KV310_TARGETS:-}"
    [ "${#names[@]}" -eq 0 ] || targets=(--target "${names[@]}")
    cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}
