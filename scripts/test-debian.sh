#!/usr/bin/env bash
# Runs ./test.sh in a fresh root of another Debian release, from a clone of this checkout's HEAD:
#   scripts/test-debian.sh 13
# The root, with every package ./test.sh installs, is made once with mmdebstrap and kept as a
# tarball under /var/cache/kv310-test/ (KV310_CACHE_DIR); it is made anew when that list changes.
# Needs root: the run mounts /proc and a pseudo-terminal file system of its own in the root.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

release=${1:-13}
case $release in
12) suite=bookworm ;;
13) suite=trixie ;;
*)
    echo "usage: $0 [12|13]" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "test-debian.sh: needs root, to mount /proc and /dev/pts in the Debian $release root" >&2
    exit 1
fi

# mmdebstrap reaches the Debian registry as apt does: through the mirrors of the host's own
# sources, with the host's proxy settings.
root_packages=("${KV310_PACKAGES[@]}" "${KV310_TEST_PACKAGES[@]}")
kv310_install mmdebstrap git
mirror_for() {
    apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
        awk -v want="$1" '$2 ~ want { print $1; exit }'
}
host_suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(mirror_for "^${host_suite}$")
security=$(mirror_for "^${host_suite}-security$")
[ -n "$mirror" ] || { echo "test-debian.sh: no Debian mirror in the host's apt sources" >&2; exit 1; }

cache_dir=${KV310_CACHE_DIR:-/var/cache/kv310-test}
packages=$(printf '%s\n' "${root_packages[@]}" | sort -u | paste -sd, -)
key=$(printf '%s %s %s' "$suite" "$mirror" "$packages" | sha256sum | cut -c1-12)
tarball=$cache_dir/debian-$release-$key.tar
started=$SECONDS

if [ ! -f "$tarball" ]; then
    echo "== Making the Debian $release root (packages: $packages)"
    mkdir -p "$cache_dir"
    rm -f "$cache_dir/debian-$release-"*.tar
    sources=("deb $mirror $suite main" "deb $mirror $suite-updates main")
    [ -z "$security" ] || sources+=("deb $security $suite-security main")
    mmdebstrap --quiet --variant=apt --format=tar --include="$packages" \
        --aptopt='APT::Install-Recommends "false"' \
        --customize-hook='chroot "$1" apt-get clean' \
        "$suite" "$tarball.new.tar" "${sources[@]}"
    mv "$tarball.new.tar" "$tarball"
    echo "== Root made in $((SECONDS - started)) s"
fi

work=$(mktemp -d "${TMPDIR:-/var/tmp}/kv310-debian-$release.XXXXXX")
root=$work/root
mounted=()
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    # Whatever a failed test left running in the root holds its mounts.
    if [ -d "$root/proc" ]; then
        for proc in /proc/[0-9]*; do
            [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill -9 "${proc#/proc/}" 2>/dev/null
        done
    fi
    local index
    for ((index = ${#mounted[@]} - 1; index >= 0; index--)); do
        umount "${mounted[index]}" 2>/dev/null || umount -l "${mounted[index]}" ||
            echo "test-debian.sh: could not unmount ${mounted[index]}" >&2
    done
    rmdir "$work" || true
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in_root() {
    mount "$@"
    mounted+=("${*: -1}")
}
# The root lives in memory: it unpacks and builds faster, and goes at once when unmounted.
mount_in_root -t tmpfs -o size=16G,mode=0755 kv310-root "$work"
mkdir "$root"
tar -C "$root" -xf "$tarball"
mount_in_root -t proc proc "$root/proc"
# A pseudo-terminal instance of the root's own, so that a test's ptmx and its /dev/pts/N agree.
mkdir -p "$root/dev/pts"
mount_in_root -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
rm -f "$root/dev/ptmx"
ln -s pts/ptmx "$root/dev/ptmx"
mkdir -p "$root/dev/shm"
mount_in_root -t tmpfs -o mode=1777 shm "$root/dev/shm"
for node in null zero full random urandom tty; do
    [ -e "$root/dev/$node" ] || { touch "$root/dev/$node" && mount_in_root --bind "/dev/$node" "$root/dev/$node"; }
done

git clone --quiet --no-hardlinks . "$root/root/kv310-test"
echo "== Debian $release root ready in $((SECONDS - started)) s; running ./test.sh there"
# In the background, so that a signal to this script runs the trap at once rather than after the
# tests; the trap ends what runs in the root.
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 CI="${CI:-}" TERM=dumb bash -c 'cd /root/kv310-test && ./test.sh' &
wait $!
echo "== Debian $release leg passed in $((SECONDS - started)) s"
