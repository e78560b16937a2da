#!/bin/sh
# Fails when the program imports a DLL that Windows does not ship.
#   check-imports.sh OBJDUMP EXE
objdump=$1
exe=$2
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll msvcrt.dll comctl32.dll ole32.dll"
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no imports read from $exe"; exit 1; }
status=0
for d in $dlls; do
    case " $allowed " in
        *" $d "*) echo "ok: $d" ;;
        *) echo "not a Windows DLL: $d"; status=1 ;;
    esac
done
exit $status
