#!/bin/sh
# Runs a command with what the tests need: an X display (Xvfb on a free
# display number) and a persistent wineserver for the build's prefix. Both
# are stopped again when the command ends.
#   scripts/with-test-env.sh [--win32] BUILD_DIR COMMAND...
# --win32: in a 32-bit-only prefix (BUILD_DIR/wineprefix-win32), as on a
# 32-bit Windows, instead of the build's own (BUILD_DIR/wineprefix).
set -u
prefix=wineprefix
if [ "${1:-}" = --win32 ]; then
    prefix=wineprefix-win32
    export WINEARCH=win32
    shift
fi
BUILD_DIR=$(cd "$1" && pwd)
shift

export WINEPREFIX="$BUILD_DIR/$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8

. "$(dirname "$0")/xvfb.sh"
. "$(dirname "$0")/emulator.sh"
UPDATE_UNIX_RUNNER=$(mktemp -d /tmp/update-unix-runner.XXXXXX)
export UPDATE_UNIX_RUNNER
runner=""
cleanup() {
    /usr/lib/wine/wineserver -k >/dev/null 2>&1
    stop_xvfb
    [ -z "$runner" ] || kill $runner 2>/dev/null
    rm -rf "$UPDATE_UNIX_RUNNER"
}
trap cleanup EXIT INT TERM

if [ -z "${UPDATE_USE_DISPLAY:-}" ]; then
    start_xvfb 91 1280x1024x24
fi
# The Unix commands the tests need (xdotool, ln, rm) run from here, on the
# display above, not from their Windows programs (scripts/unix-runner.py).
python3 "$(dirname "$0")/unix-runner.py" "$UPDATE_UNIX_RUNNER" $$ </dev/null >/dev/null 2>&1 &
runner=$!

# A wineserver that an interrupted run left for this prefix would keep the
# wait below from ever ending.
/usr/lib/wine/wineserver -k >/dev/null 2>&1
# Create the prefix first (once), then keep one wineserver alive for the run
# so that each process starts in well under a second.
"$BUILD_DIR/wine-run.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1
settle_wineserver with-test-env
/usr/lib/wine/wineserver -p
# Wine's background services start with the first program and take its
# output handles: let that be a program that outlives every test and whose
# output goes nowhere.
if [ -f "$BUILD_DIR/tests/keepalive.exe" ]; then
    "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/tests/keepalive.exe" </dev/null >/dev/null 2>&1 &
fi
# The services and the desktop that came up with it settle before the first
# test (a fresh prefix takes longest).
# Its output goes to a file: a service started meanwhile would keep a pipe.
if [ -f "$BUILD_DIR/tests/prefixready.exe" ]; then
    ready_log=$(mktemp)
    if ! "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/tests/prefixready.exe" </dev/null >"$ready_log" 2>&1; then
        cat "$ready_log" >&2
        echo "with-test-env: the Wine prefix did not settle; tests may see it still starting" >&2
    fi
    rm -f "$ready_log"
fi

"$@"
