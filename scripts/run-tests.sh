#!/bin/sh
# Runs the whole test suite for each build, each with its own Wine runner and
# prefix, and ends with what passed, failed or was skipped:
#   x86_64               build/       64-bit Windows      build/wineprefix
#   i686                 build-i686/  64-bit Windows      build-i686/wineprefix
#   i686, 32-bit Windows build-i686/  32-bit-only prefix  build-i686/wineprefix-win32
# A suite whose programs this machine cannot run is reported as skipped, with
# the reason; it is never left out silently.
#   scripts/run-tests.sh [CTEST_ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
jobs=${JOBS:-2}
summary=""
status=0

note() {
    summary="$summary$(printf '  %-22s %s' "$1" "$2")
"
}

# probe LABEL BUILD_DIR [--win32]: can this machine run the build's programs?
# Prints the reason when it cannot.
probe() {
    dir=$2
    if [ ! -x "$dir/wine-run.sh" ] || [ ! -f "$dir/tests/runprobe.exe" ]; then
        echo "$dir is not built with its tests"
        return 1
    fi
    loader=$(sed -n 's/^WINE=//p' "$dir/wine-run.sh")
    if [ "${3:-}" = --win32 ]; then
        out=$(WINEARCH=win32 WINEPREFIX="$dir/wineprefix-win32" "$dir/wine-run.sh" \
            "$dir/tests/runprobe.exe" </dev/null 2>&1)
    else
        out=$(WINEPREFIX="$dir/wineprefix" "$dir/wine-run.sh" "$dir/tests/runprobe.exe" </dev/null 2>&1)
    fi
    result=$?
    if [ $result != 42 ]; then
        echo "$loader cannot run this build's programs here (status $result$(
            [ -n "$out" ] && printf ': %s' "$(echo "$out" | head -n 1)"))"
        return 1
    fi
}

# suite LABEL BUILD_DIR [--win32] -- CTEST_ARGS...
suite() {
    label=$1 dir=$root/$2
    shift 2
    win32=""
    if [ "$1" = --win32 ]; then
        win32=--win32
        shift
    fi
    shift # --
    echo
    echo "==== $label ($(basename "$dir")$([ -n "$win32" ] && echo ", 32-bit-only prefix"))"
    if ! reason=$(probe "$label" "$dir" $win32); then
        echo "==== $label: SKIPPED: $reason"
        note "$label" "SKIPPED: $reason"
        return
    fi
    start=$(date +%s)
    sh "$here/with-test-env.sh" $win32 "$dir" ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
    result=$?
    took=$(($(date +%s) - start))
    if [ $result = 0 ]; then
        note "$label" "passed (${took} s)"
    else
        note "$label" "FAILED (${took} s)"
        status=1
    fi
}

suite "x86_64" build -- "$@"
suite "i686" build-i686 -- "$@"
suite "i686, 32-bit Windows" build-i686 --win32 -- "$@"

echo
echo "==== Test suites"
printf '%s' "$summary"
exit $status
