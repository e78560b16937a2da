#!/bin/sh
# Installs what the build and the tests need, once; quiet and quick when
# everything is already there.
set -e

PACKAGES="cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
googletest wine64 fonts-wine xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic locales
python3-minimal"

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

# Wine takes code page 932 from the Japanese locale; without it, it silently
# falls back to 1252.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "setup: generating the ja_JP.UTF-8 locale"
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
