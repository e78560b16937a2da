#!/bin/sh
# Runs the test suites, each with its own Wine runner, prefix, wineserver and
# X display, and ends with what passed, failed or was skipped:
#   x86_64               build/       64-bit Windows      every test
#   i686                 build-i686/  64-bit Windows      every test
#   i686, 32-bit Windows build-i686/  32-bit-only prefix  the tests labelled
#                                                         system
# The 32-bit-only prefix runs the tests whose outcome depends on the Windows
# underneath (registry views, system folders, the program end to end); the
# others run the same 32-bit code on the same Wine libraries as in the
# 64-bit prefix.
# A suite spends most of its time waiting on windows, child processes and
# the disk, so the suites overlap: the x86_64 suite runs while COMMAND (the
# i686 build) runs, then both i686 suites run side by side. Each suite's
# output is shown whole when it ends.
# A suite whose programs this machine cannot run is reported as skipped, with
# the reason; it is never left out silently.
#   scripts/run-tests.sh [--meanwhile COMMAND] [CTEST_ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
jobs=${JOBS:-2}
meanwhile=""
if [ "${1:-}" = --meanwhile ]; then
    meanwhile=$2
    shift 2
fi
results=$(mktemp -d /tmp/update-tests.XXXXXX)
trap 'rm -rf "$results"' EXIT

# probe BUILD_DIR [--win32]: can this machine run the build's programs?
# Prints the reason when it cannot.
probe() {
    dir=$1
    if [ ! -x "$dir/wine-run.sh" ] || [ ! -f "$dir/tests/runprobe.exe" ]; then
        echo "$dir is not built with its tests"
        return 1
    fi
    loader=$(sed -n 's/^WINE=//p' "$dir/wine-run.sh")
    if [ "${2:-}" = --win32 ]; then
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

# suite N LABEL BUILD_DIR [--win32] -- CTEST_ARGS...: runs one suite, its
# output into $results/N.out and its line of the summary into $results/N.sum.
suite() {
    n=$1 label=$2 dir=$root/$3
    shift 3
    win32=""
    if [ "$1" = --win32 ]; then
        win32=--win32
        shift
    fi
    shift # --
    out=$results/$n.out
    {
        echo
        echo "==== $label ($(basename "$dir")$([ -n "$win32" ] && echo ", 32-bit-only prefix"))"
    } >"$out"
    if ! reason=$(probe "$dir" $win32); then
        echo "==== $label: SKIPPED: $reason" >>"$out"
        printf '  %-22s %s\n' "$label" "SKIPPED: $reason" >"$results/$n.sum"
        return
    fi
    start=$(date +%s)
    sh "$here/with-test-env.sh" $win32 "$dir" ctest --test-dir "$dir" --output-on-failure \
        -j"$jobs" "$@" >>"$out" 2>&1 </dev/null
    result=$?
    took=$(($(date +%s) - start))
    if [ $result = 0 ]; then
        printf '  %-22s %s\n' "$label" "passed (${took} s)" >"$results/$n.sum"
    else
        printf '  %-22s %s\n' "$label" "FAILED (${took} s)" >"$results/$n.sum"
    fi
}

echo "==== x86_64 tests started"
suite 1 "x86_64" build -- "$@" &
first=$!
status=0
if [ -n "$meanwhile" ]; then
    sh -c "$meanwhile" || status=1
fi
if [ $status = 0 ]; then
    echo "==== i686 tests started"
    suite 2 "i686" build-i686 -- "$@" &
    second=$!
    suite 3 "i686, 32-bit Windows" build-i686 --win32 -- -L system "$@" &
    third=$!
    wait $second $third
fi
wait $first

for n in 1 2 3; do
    [ -f "$results/$n.out" ] && cat "$results/$n.out"
done
echo
echo "==== Test suites"
[ $status = 0 ] || echo "  the i686 build failed: its suites did not run"
for n in 1 2 3; do
    if [ -f "$results/$n.sum" ]; then
        cat "$results/$n.sum"
    elif [ -f "$results/$n.out" ]; then
        echo "  suite $n ended without a result" | tee "$results/$n.sum"
        status=1
    fi
done
if [ $status != 0 ] || grep -q FAILED "$results"/*.sum 2>/dev/null; then
    exit 1
fi
exit 0
