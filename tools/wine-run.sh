#!/bin/sh
# Runs a Windows program under Wine, in the private prefix named by WINEPREFIX (the
# build tree's wineprefix/, never ~/.wine). CMake uses this as the cross-compiling
# emulator, so every test executable of the windows preset goes through here.
#
#   wine-run.sh PROGRAM.exe [ARGS...]   run it; the exit status is the program's
#   wine-run.sh --prepare               create the prefix once (no installer dialogs)
#   wine-run.sh --shutdown              end every process of the prefix
#
# With KESTREL_DISPLAY=xvfb and no DISPLAY, the program runs on a private Xvfb
# (windows need a display), and the prefix's processes end with it.
set -eu

if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-run.sh: WINEPREFIX is not set; refusing to touch ~/.wine" >&2
    exit 2
fi
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export HOME="${HOME:-/root}"

# Debian's wine64 package: call the 64-bit loader directly (the wine wrapper
# script only adds a warning about the missing 32-bit half).
if [ -x /usr/lib/wine/wine64 ]; then
    WINE=/usr/lib/wine/wine64
    WINESERVER=/usr/lib/wine/wineserver
else
    WINE=$(command -v wine64 || command -v wine)
    WINESERVER=$(command -v wineserver)
fi

prepare() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Tests may start in parallel: the first one creates the prefix, others wait.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.kestrel-ready" ]; then
        rm -rf "$WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        # Top-level windows stay unmanaged: on an X server without a window manager
        # (the tests' Xvfb) Wine otherwise waits 2 s for every shown window that is
        # hidden or destroyed, so each dialog that ends costs 2 s.
        "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
        "$WINESERVER" -w
        if [ ! -d "$WINEPREFIX/drive_c" ]; then
            echo "wine-run.sh: could not create the Wine prefix $WINEPREFIX" >&2
            exit 1
        fi
        touch "$WINEPREFIX/.kestrel-ready"
    fi
    flock -u 9
}

case "${1:-}" in
--prepare)
    prepare
    ;;
--shutdown)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
"")
    echo "usage: wine-run.sh PROGRAM.exe [ARGS...] | --prepare | --shutdown" >&2
    exit 2
    ;;
*)
    prepare
    if [ "${KESTREL_DISPLAY:-}" = xvfb ] && [ -z "${DISPLAY:-}" ]; then
        status=0
        xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$WINE" "$@" || status=$?
        "$WINESERVER" -k 2>/dev/null || true  # nothing may outlive its display
        exit $status
    fi
    exec "$WINE" "$@"
    ;;
esac
