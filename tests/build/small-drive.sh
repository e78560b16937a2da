#!/bin/sh
# A small drive for full-disk tests: a tmpfs of SIZE_KIB KiB mounted at
# MOUNTDIR and linked as drive s: in the Wine prefix.
#   tests/small-drive.sh up|down WINEPREFIX MOUNTDIR SIZE_KIB
# The prefix that the WINEPREFIX variable names, when it is set, wins over
# the argument, and the drive is then mounted beside it (PREFIX.small-drive):
# a test run in a prefix of its own (the 32-bit-only one, say) gets a drive
# of its own, also while another run goes on beside it.
# "up" mounts a fresh, empty drive; "down" removes the link and unmounts.
# Both may be run any number of times. When no mount is possible (no root,
# no prefix, a container without the right), "up" prints one line starting
# "small drive: SKIPPED:" with the reason, leaves no link and exits 0: the
# tests that need the drive then skip and say so.
set -u

usage() {
    echo "usage: $0 up|down WINEPREFIX MOUNTDIR SIZE_KIB" >&2
    exit 64
}
[ $# -eq 4 ] || usage
action=$1
prefix=$2
mountdir=$3
size=$4
if [ -n "${WINEPREFIX:-}" ]; then
    prefix=$WINEPREFIX
    mountdir=$WINEPREFIX.small-drive
fi
case $size in
'' | *[!0-9]*) usage ;;
esac
link="$prefix/dosdevices/s:"

unmount() {
    if mountpoint -q "$mountdir" 2>/dev/null; then
        umount "$mountdir" || return 1
    fi
    return 0
}

skip() {
    rm -f "$link"
    echo "small drive: SKIPPED: $*"
    exit 0
}

case $action in
up)
    # Without its dosdevices folder the prefix is not made yet, and a folder
    # made here would keep Wine from making it properly.
    [ -d "$prefix/dosdevices" ] || skip "no Wine prefix at $prefix"
    rm -f "$link"
    unmount || skip "cannot unmount the previous drive at $mountdir"
    mkdir -p "$mountdir" 2>/dev/null || skip "cannot create $mountdir"
    if ! error=$(mount -t tmpfs -o "size=${size}k,mode=0755" tmpfs "$mountdir" 2>&1); then
        skip "cannot mount a tmpfs at $mountdir: $(echo "$error" | head -n 1)"
    fi
    ln -s "$mountdir" "$link" || {
        umount "$mountdir"
        skip "cannot link $link"
    }
    echo "small drive: s: is a tmpfs of $size KiB at $mountdir"
    ;;
down)
    rm -f "$link"
    unmount || {
        echo "small drive: cannot unmount $mountdir" >&2
        exit 1
    }
    rmdir "$mountdir" 2>/dev/null
    echo "small drive: removed"
    ;;
*)
    usage
    ;;
esac
exit 0
