#!/usr/bin/env bash
# Starts the Windows build of the test driver under Wine in place of the Linux one, for the
# end-to-end test (KV310_TEST_DRIVER). The devices in KV310_COM1 and KV310_COM2 become COM1 and
# COM2: the prefix's registry maps those to two links here, pointed at the devices' names before
# each start; the Windows program itself sees its default ports.
set -euo pipefail
: "${KV310_WINE_PORTS:?the folder of the links COM1 and COM2 lead to}"
: "${KV310_WINE_DRIVER:?the Windows test driver}"
for port in 1 2; do
    variable=KV310_COM$port
    device=${!variable:-}
    if [ -n "$device" ]; then
        # Absolute, but a link is not followed: a test may point it elsewhere while the program
        # runs, as a USB adapter plugged in again comes back at the same name.
        ln -sfn "$(realpath --no-symlinks "$device")" "$KV310_WINE_PORTS/com$port"
    else
        rm -f "$KV310_WINE_PORTS/com$port"
    fi
    unset "$variable"
done
# Wine does not hand QT_* variables on to Windows programs: the platform goes as an argument.
platform=()
[ -z "${QT_QPA_PLATFORM:-}" ] || platform=(-platform "$QT_QPA_PLATFORM")
exec "${KV310_WINE:-wine64}" "$KV310_WINE_DRIVER" "${platform[@]}" "$@"
