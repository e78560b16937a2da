#!/bin/sh
# Fails unless each program is hardened: the stack guard linked in (some
# function calls __stack_chk_fail, the guard word exists) and seeded without
# the cryptographic provider (libssp's seeding loads libraries by the usual
# search before WinMain: the programs have their own), relocatable at a
# random address (DYNAMIC_BASE with its relocations kept; HIGH_ENTROPY_VA on
# 64-bit) and its data not executable (NX_COMPAT, which is DEP).
#   check-hardening.sh OBJDUMP NM EXE...
objdump=$1
nm=$2
shift 2

status=0
fail() {
    echo "FAIL: $exe: $*"
    bad=1
    status=1
}
for exe in "$@"; do
    bad=0
    header=$("$objdump" -p "$exe")
    format=$(echo "$header" | sed -n 's/^Magic[[:space:]]*[0-9a-f]*[[:space:]]*(\(PE32+*\))$/\1/p')
    dll=$(echo "$header" | sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-f]*\)$/\1/p')
    [ -n "$format" ] && [ -n "$dll" ] || { fail "no PE header read"; continue; }
    dll=$((0x$dll))
    [ $((dll & 0x40)) != 0 ] || fail "DYNAMIC_BASE (ASLR) not set"
    [ $((dll & 0x100)) != 0 ] || fail "NX_COMPAT (DEP) not set"
    if [ "$format" = "PE32+" ]; then
        [ $((dll & 0x20)) != 0 ] || fail "HIGH_ENTROPY_VA not set"
    fi
    if echo "$header" | grep -q "relocations stripped" ||
        ! "$objdump" -h "$exe" | grep -q ' \.reloc '; then
        fail "no relocations: the loader cannot move it"
    fi
    # i686 symbols carry a leading underscore.
    symbols=$("$nm" "$exe" 2>/dev/null)
    echo "$symbols" | grep -Eq ' T _?__stack_chk_fail$' || fail "no __stack_chk_fail: built without the stack guard"
    echo "$symbols" | grep -Eq ' [BDbd] _?__stack_chk_guard$' || fail "no __stack_chk_guard"
    if echo "$header" | grep -Eq '^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+Crypt(AcquireContext|GenRandom)'; then
        fail "imports CryptGenRandom: libssp's guard, seeded before the library search is restricted"
    fi
    [ $bad = 0 ] && echo "ok: $(basename "$exe") ($format, DllCharacteristics 0x$(printf %04x $dll))"
done
exit $status
