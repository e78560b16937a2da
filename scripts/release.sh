#!/bin/sh
# Builds a release into dist/ (run by make release):
#
#   make release PAYLOAD_CLIENT=DIR PAYLOAD_SERVER=DIR
#   make release SAMPLE=1                      (the sample payload: not to ship)
#
# Optional: SIGN_PKCS12=FILE with SIGN_PASSWORD in the environment signs every
# program (scripts/sign.sh), SIGN_TIMESTAMP_URL adds a time stamp,
# SOURCE_DATE_EPOCH clamps the payload's record times and PAYLOAD_TIME (a
# decimal FILETIME) stamps every record with one time.
#
# Both builds are made from scratch in build-release/ (64-bit first: its fpack
# packs the payload of both). dist/ receives each Update.exe, fpack.exe and
# UpdateReport.exe stripped, its debug information beside it (NAME.debug,
# linked by name, not shipped), README.txt and SHA256SUMS. The same tree and
# folders give the same bytes.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
work="$root/build-release"
dist="$root/dist"
jobs=${JOBS:-2}

fail() {
    echo "release: $*" >&2
    exit 1
}

# --- The payload ----------------------------------------------------------
client="" server=""
if [ "${SAMPLE:-}" = 1 ]; then
    [ -z "${PAYLOAD_CLIENT:-}${PAYLOAD_SERVER:-}" ] ||
        fail "SAMPLE=1 builds the sample payload: give either SAMPLE=1 or PAYLOAD_CLIENT and PAYLOAD_SERVER"
elif [ -n "${PAYLOAD_CLIENT:-}" ] && [ -n "${PAYLOAD_SERVER:-}" ]; then
    client=$(cd "$PAYLOAD_CLIENT" 2>/dev/null && pwd) || fail "no folder $PAYLOAD_CLIENT"
    server=$(cd "$PAYLOAD_SERVER" 2>/dev/null && pwd) || fail "no folder $PAYLOAD_SERVER"
    # The marker is the update's last change: a payload without it could
    # never finish an update.
    for folder in "$client" "$server"; do
        ls -A "$folder" | grep -qix 'wsus\.txt' ||
            fail "$folder holds no WSUS.txt: the vendor's files must include the marker"
    done
else
    fail "give the vendor's payload folders: make release PAYLOAD_CLIENT=DIR PAYLOAD_SERVER=DIR
(or make release SAMPLE=1 for the sample payload, which must not be shipped)"
fi

# --- Two builds from scratch ----------------------------------------------
stop_wine() {
    WINEPREFIX="$work/wineprefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}
trap stop_wine EXIT
rm -rf "$work" "$dist"
mkdir -p "$work"

# configure NAME TOOLCHAIN [-DVAR=value...]; compile NAME
configure() {
    name=$1 toolchain=$2
    shift 2
    cmake -S "$root" -B "$work/$name" --toolchain "$root/cmake/toolchain-$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DUPDATE_BUILD_TESTS=OFF \
        "-DUPDATE_PAYLOAD_CLIENT_DIR=$client" "-DUPDATE_PAYLOAD_SERVER_DIR=$server" \
        "-DUPDATE_PAYLOAD_TIME=${PAYLOAD_TIME:-}" "-DUPDATE_WINEPREFIX=$work/wineprefix" "$@" >"$work/$name-configure.log" 2>&1 ||
        { cat "$work/$name-configure.log" >&2; fail "configuring the $name build failed"; }
}
compile() {
    echo "release: building $1"
    cmake --build "$work/$1" -j"$jobs" --target Update fpack UpdateReport >"$work/$1-build.log" 2>&1 ||
        { tail -n 40 "$work/$1-build.log" >&2; fail "the $1 build failed"; }
}

configure x86_64 x86_64-w64-mingw32
# The payload as the build sees it: a path that names the sample folders is
# the sample too.
sample=0
grep -q '^sample=ON' "$work/x86_64/Update/res/payload/settings.txt" && sample=1
if [ $sample = 1 ] && [ "${SAMPLE:-}" != 1 ]; then
    fail "the payload folders are the repository's sample; a release needs the vendor's files
(make release SAMPLE=1 builds the sample on purpose)"
fi
compile x86_64
configure i686 i686-w64-mingw32 \
    "-DUPDATE_FPACK_COMMAND=$work/x86_64/wine-run.sh;$work/x86_64/tools/fpack/fpack.exe"
compile i686

# --- dist/ ------------------------------------------------------------------
mkdir -p "$dist/x64"
sizes=""
# ship BUILD OBJCOPY PROGRAM DEST: stripped program and its debug file.
# objcopy stamps a PE file it writes with the time unless SOURCE_DATE_EPOCH
# says otherwise; 0, as the linker leaves it.
ship() {
    src="$work/$1/$3" objcopy=$2 dest="$dist/$4"
    name=$(basename "$dest")
    SOURCE_DATE_EPOCH=0 "$objcopy" --only-keep-debug "$src" "$dest.debug"
    SOURCE_DATE_EPOCH=0 "$objcopy" --strip-all "$src" "$dest"
    (cd "$(dirname "$dest")" && SOURCE_DATE_EPOCH=0 "$objcopy" --add-gnu-debuglink="$name.debug" "$name")
    sizes="$sizes$(printf '  %-20s %9d bytes built, %9d stripped' "$4" \
        "$(wc -c <"$src")" "$(wc -c <"$dest")")
"
}
ship i686 i686-w64-mingw32-objcopy Update/Update.exe Update.exe
ship i686 i686-w64-mingw32-objcopy tools/fpack/fpack.exe fpack.exe
ship i686 i686-w64-mingw32-objcopy tools/report/UpdateReport.exe UpdateReport.exe
ship x86_64 x86_64-w64-mingw32-objcopy Update/Update.exe x64/Update.exe
ship x86_64 x86_64-w64-mingw32-objcopy tools/fpack/fpack.exe x64/fpack.exe
ship x86_64 x86_64-w64-mingw32-objcopy tools/report/UpdateReport.exe x64/UpdateReport.exe
programs="Update.exe fpack.exe UpdateReport.exe x64/Update.exe x64/fpack.exe x64/UpdateReport.exe"

signed=0
if [ -n "${SIGN_PKCS12:-}" ]; then
    (cd "$dist" && sh "$root/scripts/sign.sh" $programs) || fail "signing failed"
    signed=1
fi

version=$(sed -n 's/^ *VALUE "FileVersion", "\(.*\)"/\1/p' "$root/Update/res/Update.rc")
# It quotes the log's Japanese texts: a byte-order mark makes Notepad read it
# as UTF-8 on every Windows.
{
    printf '\357\273\277'
    if [ $sample = 1 ]; then
        echo "*** SAMPLE PAYLOAD: this Update.exe installs the repository's sample files, ***"
        echo "*** not the vendor's. Do not ship it.                                      ***"
        echo
    fi
    sed "s/@VERSION@/$version/" "$root/scripts/dist-README.txt"
} | sed 's/$/\r/' >"$dist/README.txt"
# The startup script of the deployment material goes beside the program.
cp "$root/scripts/deploy/update-startup.cmd" "$dist/update-startup.cmd"
(cd "$dist" && sha256sum $programs update-startup.cmd README.txt >SHA256SUMS)

# --- What was made ------------------------------------------------------------
echo
echo "release: dist/ ($( [ $sample = 1 ] && echo "SAMPLE payload, not to ship" || echo "payload from $client and $server"))"
printf '%s' "$sizes"
(cd "$dist" && find . -type f | sed 's|^\./||' | sort | while read -r f; do
    printf '  %-28s %9d bytes\n' "$f" "$(wc -c <"$f")"
done)
if [ $signed = 1 ]; then
    echo "release: signed (SHA-256). Check: osslsigncode verify -in dist/Update.exe"
else
    echo "release: NOT signed: no certificate given (SIGN_PKCS12=FILE, SIGN_PASSWORD in the environment)"
fi
echo "release: check the files with: (cd dist && sha256sum -c SHA256SUMS)"
