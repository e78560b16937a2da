#!/bin/sh
# A build that would have no payload, or a payload without its marker, or a
# packer that cannot run, stops at configure time and says what to set.
#   configure_errors.sh CMAKE SOURCE_DIR TOOLCHAIN
set -u
cmake=$1 source=$2 toolchain=$3

scratch=$(mktemp -d /tmp/update-configure.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/empty" "$scratch/files" "$scratch/nomarker"
echo x >"$scratch/files/WSUS.txt"
echo x >"$scratch/nomarker/PatchHub.exe"

status=0
# case NAME EXPECTED_MESSAGE -DVAR=value...: configure fails, naming what to set.
case_() {
    name=$1 expected=$2
    shift 2
    rm -rf "$scratch/build"
    if "$cmake" -S "$source" -B "$scratch/build" --toolchain "$toolchain" -DUPDATE_BUILD_TESTS=OFF \
        "$@" >"$scratch/out" 2>&1; then
        echo "FAIL: $name: configured"
        status=1
    elif ! tr '\n' ' ' <"$scratch/out" | tr -s ' ' | grep -q -F "$expected"; then
        echo "FAIL: $name: no \"$expected\" in:"
        cat "$scratch/out"
        status=1
    else
        echo "ok: $name"
    fi
}

case_ "empty client folder" "set UPDATE_PAYLOAD_CLIENT_DIR" \
    -DUPDATE_PAYLOAD_CLIENT_DIR="$scratch/empty" -DUPDATE_PAYLOAD_SERVER_DIR="$scratch/files"
case_ "missing server folder" "set UPDATE_PAYLOAD_SERVER_DIR" \
    -DUPDATE_PAYLOAD_CLIENT_DIR="$scratch/files" -DUPDATE_PAYLOAD_SERVER_DIR="$scratch/none"
case_ "server payload without the marker" "$scratch/nomarker holds no WSUS.txt" \
    -DUPDATE_PAYLOAD_CLIENT_DIR="$scratch/files" -DUPDATE_PAYLOAD_SERVER_DIR="$scratch/nomarker"
case_ "only one folder given" "set both UPDATE_PAYLOAD_CLIENT_DIR and UPDATE_PAYLOAD_SERVER_DIR" \
    -DUPDATE_PAYLOAD_CLIENT_DIR="$scratch/files"
case_ "packer that does not run" "Set it to a packer that runs here" \
    "-DUPDATE_FPACK_COMMAND=$scratch/files/fpack.exe"
case_ "payload switched off" "Update.exe is always built with its payload" \
    -DUPDATE_WITH_PAYLOAD=OFF
exit $status
