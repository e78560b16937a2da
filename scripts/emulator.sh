# Sourced by scripts/setup.sh, run-tests.sh, with-test-env.sh and the Wine
# runner (cmake/wine-run.sh.in): 32-bit x86 Linux programs (the 32-bit Wine
# loader) under qemu-user where the kernel cannot run them itself. The
# kernel hands such a program to the interpreter that binfmt_misc names for
# its ELF header. Also how a prefix's Wine processes are waited for.
BINFMT=/proc/sys/fs/binfmt_misc
I386_ENTRY=qemu-i386
I386_INTERPRETER=/usr/bin/qemu-i386-static
# An ELF header of a 32-bit little-endian x86 executable or shared object;
# the mask lets any OS/ABI byte and both object types through. F: the kernel
# opens the interpreter once, at registration, so that it is found from any
# root and mount namespace.
I386_REGISTRATION=":$I386_ENTRY:M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$I386_INTERPRETER:F"

# i386_emulator: prints the interpreter through which 32-bit x86 programs
# run here; fails when they run natively (or not at all).
i386_emulator() {
    [ "$(cat "$BINFMT/status" 2>/dev/null)" = enabled ] || return 1
    for entry in "$BINFMT"/*; do
        case $entry in */register | */status) continue ;; esac
        [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
        # The 32-bit x86 ELF magic, whatever the entry is called.
        grep -q '^magic 7f454c4601010100000000000000000002000300$' "$entry" 2>/dev/null || continue
        sed -n 's/^interpreter //p' "$entry"
        return 0
    done
    return 1
}

# settle_wineserver WHO: waits until the processes of WINEPREFIX, and its
# wineserver with them, have ended. Under qemu-user Wine's services
# (services.exe, winedevice.exe) now and then never end: after 2 minutes
# they are stopped (the registry is saved all the same), WHO saying so.
settle_wineserver() {
    timeout 120 /usr/lib/wine/wineserver -w && return 0
    echo "$1: Wine's services in $WINEPREFIX did not end: stopped" >&2
    /usr/lib/wine/wineserver -k >/dev/null 2>&1
    timeout 60 /usr/lib/wine/wineserver -w
    return 0
}

# i386_register SUDO: mounts binfmt_misc where it is not, and registers
# qemu-user for 32-bit x86 programs. Prints why it could not.
i386_register() {
    if [ ! -f "$BINFMT/register" ] &&
        ! $1 mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null; then
        echo "binfmt_misc is not mounted and cannot be mounted here"
        return 1
    fi
    if [ -e "$BINFMT/$I386_ENTRY" ]; then
        # Registered earlier but switched off, or with another interpreter.
        $1 sh -c "echo -1 >'$BINFMT/$I386_ENTRY'" 2>/dev/null
    fi
    if ! $1 sh -c "printf '%s\n' '$I386_REGISTRATION' >'$BINFMT/register'" 2>/dev/null; then
        echo "qemu-i386 cannot be registered with binfmt_misc here"
        return 1
    fi
}
