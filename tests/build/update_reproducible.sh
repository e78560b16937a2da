#!/bin/sh
# Checks that the build is reproducible.
#
#   update_reproducible.sh archives CMAKE STAGE WINE_RUN FPACK EXTRA TIME READONLY \
#       CLIENT_DIR SERVER_DIR BUILT_CLIENT_ARCHIVE BUILT_SERVER_ARCHIVE
# packs both payload folders again, staged under another path, and compares
# the archives with the ones the build packed. EXTRA is the file the build
# adds to each folder, TIME the time it gives the packer; "-" for none.
#
#   update_reproducible.sh build CMAKE SOURCE_DIR TOOLCHAIN BUILT_BUILD_DIR [-DVAR=value...]
# configures and builds Update.exe in a second build folder elsewhere and
# compares it and its archives with the first build's.
set -eu

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

scratch=$(mktemp -d /tmp/update-repro.XXXXXX)
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT

winpath() {
    printf 'Z:%s' "$1" | tr '/' '\\'
}

case "$1" in
archives)
    cmake=$2 stage=$3 wine_run=$4 fpack=$5 extra=$6 time=$7 readonly=$8
    client_dir=$9
    shift 9
    server_dir=$1 built_client=$2 built_server=$3
    [ "$extra" = - ] && extra=""
    if [ "$time" = - ]; then set --; else set -- --time "$time"; fi
    for side in client server; do
        if [ $side = client ]; then src=$client_dir built=$built_client; else src=$server_dir built=$built_server; fi
        dest="$scratch/another/path/$side"
        "$cmake" -DSOURCE="$src" -DDEST="$dest" -DEXTRA="$extra" -DREADONLY="$readonly" -P "$stage"
        # Output to a file: Wine's own background processes, when this is the
        # first program of the session, inherit its handles and would hold
        # the test's output open.
        "$wine_run" "$fpack" c "$(winpath "$scratch/$side.fpk")" "$(winpath "$dest")" "$@" \
            </dev/null >"$scratch/fpack-$side.log" 2>&1 \
            || { cat "$scratch/fpack-$side.log" >&2; fail "fpack c for $side"; }
        cmp "$built" "$scratch/$side.fpk" || fail "$side archive differs when packed again"
        echo "$side archive: identical ($(wc -c <"$built") bytes)"
    done
    ;;
build)
    cmake=$2 source=$3 toolchain=$4 first=$5
    shift 5
    second="$scratch/second build"
    "$cmake" -S "$source" -B "$second" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DUPDATE_BUILD_TESTS=OFF "$@" >"$scratch/configure.log" 2>&1 \
        || { cat "$scratch/configure.log" >&2; fail "configure"; }
    "$cmake" --build "$second" -j2 --target Update >"$scratch/build.log" 2>&1 \
        || { tail -n 40 "$scratch/build.log" >&2; fail "build"; }
    for f in Update/res/payload/client.fpk Update/res/payload/server.fpk Update/Update.exe; do
        cmp "$first/$f" "$second/$f" || fail "$f differs between two build folders"
        echo "$f: identical ($(wc -c <"$first/$f") bytes)"
    done
    # Neither build folder's path is in the program.
    if grep -q -a -e "$first" -e "$second" "$second/Update/Update.exe"; then
        fail "a build path is in Update.exe"
    fi
    ;;
*)
    fail "unknown check $1"
    ;;
esac
