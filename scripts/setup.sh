#!/bin/sh
# Installs what the build and the tests need, once; quiet and quick when
# everything is already there.
set -e

PACKAGES="cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 g++-mingw-w64-x86-64-win32
g++-mingw-w64-i686-win32 libz-mingw-w64-dev googletest wine64 fonts-wine xvfb xdotool x11-utils
imagemagick fonts-ipafont-gothic locales python3-minimal python3 openssl osslsigncode chromium"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

SUDO=""
if [ "$(id -u)" != 0 ]; then
    SUDO=sudo
fi

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    $SUDO apt-get update -qq >/dev/null
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
fi

# 32-bit Wine for the tests of the 32-bit build: the i386 architecture and
# wine32:i386. Where it cannot be had, those tests are reported as skipped.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "setup: installing wine32:i386 (the 32-bit build's tests)"
    if ! { dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386; } ||
        ! $SUDO apt-get update -qq >/dev/null ||
        ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq wine32:i386 >/dev/null; then
        echo "setup: could not install wine32:i386; the i686 tests will be skipped" >&2
    fi
fi

# Where the kernel cannot run 32-bit programs (one built without IA-32
# emulation: the 32-bit loader fails with "Exec format error"), they run
# under qemu-user, registered with binfmt_misc for 32-bit x86 programs; Wine
# needs its preloader there. Where that cannot be done, those tests are
# reported as skipped.
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    . "$(dirname "$0")/emulator.sh"
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1 || i386_emulator >/dev/null; then
        emulation=""
        for p in qemu-user-static wine32-preloader:i386; do
            if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
                emulation="$emulation $p"
            fi
        done
        if [ -n "$emulation" ]; then
            echo "setup: installing$emulation (32-bit programs under qemu-user)"
            DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $emulation >/dev/null ||
                echo "setup: could not install$emulation" >&2
        fi
        if ! i386_emulator >/dev/null; then
            if [ ! -x "$I386_INTERPRETER" ]; then
                echo "setup: no $I386_INTERPRETER; the i686 tests that run programs will be skipped" >&2
            elif ! reason=$(i386_register "$SUDO"); then
                echo "setup: $reason; the i686 tests that run programs will be skipped" >&2
            fi
        fi
    fi
fi

# Wine takes code page 932 from the Japanese locale; without it, it silently
# falls back to 1252.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "setup: generating the ja_JP.UTF-8 locale"
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
