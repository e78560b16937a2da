#!/bin/sh
# Fails when a program imports a DLL that Windows does not ship, or, given a
# list of functions (lines "dll function", # comments), any function that is
# not on it: the Windows XP check of the 32-bit programs (tests/build/xp/).
#   check-imports.sh OBJDUMP EXE [FUNCTION_LIST]
objdump=$1
exe=$2
list=${3:-}
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll msvcrt.dll comctl32.dll ole32.dll"

# One line per import: "dll function", the DLL in lower case; an import by
# ordinal has no name and shows as "dll #ordinal".
imports=$("$objdump" -p "$exe" | awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+\t/ {
        if (NF >= 3) print dll, $3; else print dll, "#" $2
        next
    }
    /^$/ { dll = "" }')
[ -n "$imports" ] || { echo "no imports read from $exe"; exit 1; }

status=0
for d in $(echo "$imports" | cut -d' ' -f1 | sort -u); do
    case " $allowed " in
        *" $d "*) echo "ok: $d" ;;
        *) echo "not a Windows DLL: $d"; status=1 ;;
    esac
done

if [ -n "$list" ]; then
    missing=$(echo "$imports" | sort -u | grep -v -x -F -f "$list")
    if [ -n "$missing" ]; then
        echo "not on the list $(basename "$list"):"
        echo "$missing" | sed 's/^/  /'
        status=1
    else
        echo "all $(echo "$imports" | wc -l) imported functions are on $(basename "$list")"
    fi
fi
exit $status
