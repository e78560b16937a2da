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
# the reason; it is never left out silently. The checks of the i686 build
# that run none of its programs (label static: imports, hardening, the
# signature) run all the same.
# Where the kernel cannot run 32-bit programs and qemu-user runs them instead
# (scripts/emulator.sh, registered by scripts/setup.sh), at about a third of
# the speed: the 32-bit-only prefix runs its tests and the resources test,
# less those labelled slow_emulated; the 64-bit prefix runs only the static
# checks, since its 32-bit programs hang at exit and crash under qemu-user.
# The summary says what was emulated and what was left out.
#   scripts/run-tests.sh [--meanwhile COMMAND] [CTEST_ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
jobs=${JOBS:-2}
deadline=""
meanwhile=""
if [ "${1:-}" = --meanwhile ]; then
    meanwhile=$2
    shift 2
fi
results=$(mktemp -d /tmp/update-tests.XXXXXX)
trap 'rm -rf "$results"' EXIT
. "$here/emulator.sh"
emulator=$(i386_emulator) || emulator=""

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

# loader32 BUILD_DIR: is the build's Wine loader a 32-bit program?
loader32() {
    [ -f "$1/wine-run.sh" ] || return 1
    [ "$(od -An -j4 -N1 -tu1 "$(sed -n 's/^WINE=//p' "$1/wine-run.sh")" 2>/dev/null | tr -d ' ')" = 1 ]
}

# summary N LABEL TEXT [MORE]: the suite's lines of the summary.
summary() {
    printf '  %-22s %s\n' "$2" "$3" >"$results/$1.sum"
    [ -z "${4:-}" ] || printf '  %-22s %s\n' "" "$4" >>"$results/$1.sum"
}

# tests_labelled BUILD_DIR LABEL: the names of the tests with the label
# (without the fixtures that they require).
tests_labelled() {
    ctest --test-dir "$1" -N -L "$2" -FA '.*' | sed -n 's/^ *Test *#[0-9]*: *//p' | tr '\n' ' ' | sed 's/ $//'
}

# run N DIR ENV_ARGS -- CTEST_ARGS...: runs ctest for a suite, its output
# in $results/N.try and appended to $results/N.out; sets took (seconds),
# result and verdict.
run() {
    n=$1 dir=$2 env=$3
    shift 4
    start=$(date +%s)
    if [ "$env" = none ]; then
        ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" >"$results/$n.try" 2>&1 </dev/null
    else
        sh "$here/with-test-env.sh" $env "$dir" env ${deadline:+UPDATE_RUN_DEADLINE=$deadline} \
            ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" >"$results/$n.try" 2>&1 </dev/null
    fi
    result=$?
    cat "$results/$n.try" >>"$results/$n.out"
    took=$(($(date +%s) - start))
    if [ $result = 0 ]; then verdict="passed (${took} s)"; else verdict="FAILED (${took} s)"; fi
}

# failed_tests FILE: the names of the tests that CTest's output in FILE lists
# as failed, on one line.
failed_tests() {
    sed -n '/^The following tests FAILED:/,$s/^[[:space:]]*[0-9][0-9]* - \(.*\) ([^)]*)$/\1/p' "$1" |
        tr '\n' ' ' | sed 's/ $//'
}

# static N DIR REASON: what a suite that cannot run its programs still runs.
static() {
    echo "==== $label: SKIPPED: $3" >>"$results/$1.out"
    echo "==== $label: the checks that run no program (label static)" >>"$results/$1.out"
    run "$1" "$2" none -- -L static
    summary "$1" "$label" "SKIPPED: $3" "its checks that run no program (label static): $verdict"
}

# suite N LABEL BUILD_DIR [--win32] -- CTEST_ARGS...: runs one suite, its
# output into $results/N.out and its lines of the summary into $results/N.sum.
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
    emulated=""
    if [ -n "$emulator" ] && loader32 "$dir"; then
        emulated=$emulator
    fi
    if [ -n "$emulated" ] && [ -z "$win32" ]; then
        static "$n" "$dir" "under qemu-user ($emulated) 32-bit programs in a 64-bit prefix hang at exit and crash"
        return
    fi
    if ! reason=$(probe "$dir" $win32); then
        if [ -z "$win32" ] && [ -f "$dir/CTestTestfile.cmake" ]; then
            static "$n" "$dir" "$reason"
        else
            echo "==== $label: SKIPPED: $reason" >>"$out"
            summary "$n" "$label" "SKIPPED: $reason"
        fi
        return
    fi
    # The 32-bit-only prefix runs the tests labelled system.
    labels=""
    [ -n "$win32" ] && labels=system
    if [ -z "$emulated" ]; then
        run "$n" "$dir" "$win32" -- ${labels:+-L "$labels"} "$@"
        summary "$n" "$label" "$verdict"
        return
    fi
    # Emulated: the resources test too, which the 64-bit prefix cannot run
    # here, and not the tests too slow under emulation.
    left=$(tests_labelled "$dir" slow_emulated)
    echo "==== $label: emulated by $emulated; left out as too slow there: ${left:-none}" >>"$out"
    # The emulator itself crashes now and then (qemu's segmentation faults,
    # broken wineserver requests: no fault of the program's), and a test
    # process that crashes leaves its children running, holding the update's
    # lock. So the tests that failed run again, up to twice, each time in a
    # fresh Wine session (with-test-env.sh ends every process of the prefix);
    # a fault of the program's fails every time. A test program that hangs
    # in the emulator is stopped after 3 minutes (wine-run.sh), more than
    # twice the longest under load.
    deadline=180
    run "$n" "$dir" "$win32" -- -L "$labels|resources" ${left:+-E "^($(echo "$left" | tr ' ' '|'))\$"} "$@"
    total=$took again=""
    for try in 2 3; do
        [ $result != 0 ] || break
        failed=$(failed_tests "$results/$n.try")
        [ -n "$failed" ] || break
        again="$again${again:+; }$failed"
        echo "==== $label: run again in a fresh Wine session (try $try of 3): $failed" >>"$results/$n.out"
        run "$n" "$dir" "$win32" -- -R "^($(echo "$failed" | tr ' ' '|'))\$" "$@"
        total=$((total + took))
    done
    deadline=""
    if [ $result = 0 ]; then verdict="passed (${total} s)"; else verdict="FAILED (${total} s)"; fi
    summary "$n" "$label" "$verdict, emulated by $emulated" \
        "left out as too slow under emulation (label slow_emulated): ${left:-none}"
    [ -z "$again" ] || printf '  %-22s %s\n' "" "failed under emulation and were run again: $again" \
        >>"$results/$n.sum"
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
    suite 3 "i686, 32-bit Windows" build-i686 --win32 -- "$@" &
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
