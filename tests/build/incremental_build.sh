#!/bin/sh
# An incremental build embeds what it packed. In a build of its own, from
# copies of the payload folders: change one payload file, add one, take it
# away again, give the packer a newer date; after each, build Update.exe
# again and check that the archives were packed again and that Update.exe
# carries the freshly packed ones, not the earlier ones.
#   incremental_build.sh CMAKE SOURCE_DIR TOOLCHAIN [-DVAR=value...]
set -eu
cmake=$1 source=$2 toolchain=$3
shift 3

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
scratch=$(mktemp -d /tmp/update-incremental.XXXXXX)
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
build="$scratch/build"
archives="$build/Update/res/payload"
exe="$build/Update/Update.exe"

cp -rp "$source/Update/res/payload/client" "$source/Update/res/payload/server" "$scratch/"
# No optimisation: only the dependencies are under test.
"$cmake" -S "$source" -B "$build" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=None \
    -DUPDATE_BUILD_TESTS=OFF -DUPDATE_PAYLOAD_CLIENT_DIR="$scratch/client" \
    -DUPDATE_PAYLOAD_SERVER_DIR="$scratch/server" "$@" >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log" >&2; fail "configure"; }

rebuild() {
    "$cmake" --build "$build" -j2 --target Update >"$scratch/build.log" 2>&1 ||
        { tail -n 40 "$scratch/build.log" >&2; fail "build ($1)"; }
}
# embedded FILE...: each file's bytes are in Update.exe (resources are
# stored as they are).
embedded() {
    python3 -c 'import sys
exe = open(sys.argv[1], "rb").read()
sys.exit(0 if all(open(f, "rb").read() in exe for f in sys.argv[2:]) else 1)' "$exe" "$@"
}
keep() {
    cp "$archives/client.fpk" "$scratch/client.$1"
    cp "$archives/server.fpk" "$scratch/server.$1"
}
# after STEP CHANGED_SIDE...: the named archives were packed again, and
# Update.exe holds both current archives and none of the earlier ones.
after() {
    step=$1
    shift
    for side in "$@"; do
        [ "$archives/$side.fpk" -nt "$scratch/$side.before" ] ||
            fail "$step: the $side archive was not packed again"
    done
    embedded "$archives/client.fpk" "$archives/server.fpk" ||
        fail "$step: Update.exe does not carry the archives just packed"
    for side in client server; do
        if ! cmp -s "$archives/$side.fpk" "$scratch/$side.before" && embedded "$scratch/$side.before"; then
            fail "$step: Update.exe still carries the earlier $side archive"
        fi
    done
    echo "$step: Update.exe carries the archives packed again"
}
# A new stamp for each step: make compares times, and a step may take less
# than the file system's time resolution.
next() {
    keep before
    touch "$scratch/client.before" "$scratch/server.before"
    sleep 1
}

rebuild first
embedded "$archives/client.fpk" "$archives/server.fpk" || fail "first build: archives not in Update.exe"
# Folders given (copies of the sample's, but not the sample): no stand-in
# PatchHub.exe enters the archives, and Update.exe does not call itself a
# sample build, neither in its version record nor in its log.
for side in client server; do
    if grep -a -q -F PatchHub.exe "$archives/$side.fpk"; then
        fail "the stand-in PatchHub.exe is in the $side archive of given folders"
    fi
done
python3 -c 'import sys
exe = open(sys.argv[1], "rb").read()
text = "\u30b5\u30f3\u30d7\u30eb\u30da\u30a4\u30ed\u30fc\u30c9\u7248"  # the sample mark
sys.exit(1 if text.encode("utf-16-le") in exe or text.encode("cp932") in exe else 0)' "$exe" ||
    fail "Update.exe of given folders says it carries the sample payload"

next
printf 'KB0000000 changed\r\n' >>"$scratch/client/KBList.txt"
rebuild "payload file changed"
cmp -s "$archives/client.fpk" "$scratch/client.before" && fail "changed file: the client archive is the same"
after "payload file changed" client

next
printf 'new\r\n' >"$scratch/server/New.txt"
rebuild "payload file added"
cmp -s "$archives/server.fpk" "$scratch/server.before" && fail "added file: the server archive is the same"
after "payload file added" server

next
rm "$scratch/server/New.txt"
rebuild "payload file removed"
cmp -s "$archives/server.fpk" "$scratch/server.before" && fail "removed file: the server archive is the same"
after "payload file removed" server

next
touch "$build/tools/fpack/fpack.exe"
rebuild "packer changed"
after "packer changed" client server
# Staged and packed again a while later from the same folders, with each
# file's own times: the same bytes.
for side in client server; do
    cmp -s "$archives/$side.fpk" "$scratch/$side.before" ||
        fail "the $side archive differs when packed again from the same folder"
done
echo "packed again from the same folders: identical archives"
