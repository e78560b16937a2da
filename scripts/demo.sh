#!/bin/sh
# Runs the finished Update.exe on a demo installation of TALMERO Pro in a
# Wine prefix of its own (BUILD_DIR/demo-prefix).
#
#   scripts/demo.sh [BUILD_DIR]
#
# With a usable X display ($DISPLAY) the dialog opens there for you to use.
# Without one (or with DEMO_HEADLESS=1) the demo runs on Xvfb and answers
# the dialogs through the keyboard as a person would, and keeps screenshots
# in BUILD_DIR/demo/: the main dialog of both modes, the confirmation and
# the result box. Either way it prints the log and what changed in the
# feature folder.
set -u

BUILD_DIR=$(cd "${1:-build}" && pwd) || exit 1
EXE="$BUILD_DIR/Update/Update.exe"
WINE_RUN="$BUILD_DIR/wine-run.sh"
OUT="$BUILD_DIR/demo"
if [ ! -f "$EXE" ] || [ ! -x "$WINE_RUN" ]; then
    echo "demo: build first (make build): $EXE" >&2
    exit 1
fi

export WINEPREFIX="$BUILD_DIR/demo-prefix"
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
WINESERVER=/usr/lib/wine/wineserver

CAPTION="TALMERO Pro Windows Update"
INSTALL_WIN='C:\Program Files (x86)\TALMERO Pro\bin\'
INSTALL_DIR="$WINEPREFIX/drive_c/Program Files (x86)/TALMERO Pro/bin"
FEATURE_DIR="$WINEPREFIX/drive_c/Program Files (x86)/TALMERO Pro/WU"

. "$(dirname "$0")/xvfb.sh"
APP_PID=""
cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    "$WINESERVER" -k >/dev/null 2>&1
    stop_xvfb
}
trap cleanup EXIT INT TERM

say() { printf '\n== %s\n' "$*"; }

# --- Display -------------------------------------------------------------
HEADLESS=1
if [ -z "${DEMO_HEADLESS:-}" ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    HEADLESS=0
fi
if [ $HEADLESS = 1 ]; then
    start_xvfb 95 1024x768x24
fi

# --- Prefix and demo installation ----------------------------------------
say "Wine prefix $WINEPREFIX"
# The prefix is created once, with the font mapping. Then one wineserver for
# the whole demo; Wine's background services start with its first program
# and keep its output handles, so that program's output goes nowhere.
"$WINE_RUN" cmd /c exit 0 </dev/null >/dev/null 2>&1
"$WINESERVER" -w
"$WINESERVER" -p
"$WINE_RUN" cmd /c exit 0 </dev/null >/dev/null 2>&1
"$WINE_RUN" reg query 'HKCU\Software\Wine\Fonts\Replacements' 2>/dev/null |
    iconv -f CP932 -t UTF-8 | grep -i ipa

rm -rf "$WINEPREFIX/drive_c/Program Files (x86)/TALMERO Pro"
mkdir -p "$INSTALL_DIR" "$FEATURE_DIR"
for f in UserGate.dll ctlapi.dll HostBind.dll TalmeroMain.exe; do
    printf 'demo %s\n' "$f" >"$INSTALL_DIR/$f"
done
printf '[SUS]\r\nTLX_SHARE=\\\\srv01\\TALMEROWU$\r\nTLX_SERVER=srv01\r\n' >"$FEATURE_DIR/patchjob.ini"
printf "' old job script\r\n" >"$FEATURE_DIR/patchjob.vbe"
printf 'MZ old alert program\n' >"$FEATURE_DIR/AlertKey.exe"
printf 'old\r\n' >"$FEATURE_DIR/patchrun.bat"

reg32() { "$WINE_RUN" reg "$@" /reg:32 >/dev/null 2>&1; }
reg32 delete 'HKLM\SOFTWARE\TALMERO\BaseSrv' /f
reg32 add 'HKLM\SOFTWARE\TALMERO\BaseCli' /v InstallPath /t REG_SZ /d "$INSTALL_WIN" /f

TEMP_WIN=$("$WINE_RUN" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
TEMP_DIR=$("$WINE_RUN" winepath -u "$TEMP_WIN" 2>/dev/null)
LOG="$TEMP_DIR/Update_Log.txt"
rm -f "$LOG" "$LOG.BAK" "$TEMP_DIR/Update.tmp"

# name, size and checksum of each file of the feature folder
listing() {
    (cd "$FEATURE_DIR" && find . -type f -printf '%P\n' | sort | while IFS= read -r f; do
        printf '%s\t%s\t%s\n' "$f" "$(stat -c %s "$f")" "$(md5sum <"$f" | cut -c1-8)"
    done)
}
mkdir -p "$OUT"
rm -f "$OUT"/*.png
listing >"$OUT/feature-before.txt"

say "Demo installation (client part)"
# printf, not echo: the paths hold backslashes.
printf 'registry  %s = %s\n' 'HKLM\SOFTWARE\TALMERO\BaseCli InstallPath' "$INSTALL_WIN"
printf 'install   %s\nfeature   %s\n' "$INSTALL_DIR" "$FEATURE_DIR"
cut -f1,2 "$OUT/feature-before.txt" | sed 's/^/  /; s/$/ bytes/'

# --- Helpers for the unattended run --------------------------------------
# Waits for a window whose name matches; prints its X id.
wait_window() {
    i=0
    while [ $i -lt 150 ]; do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}
# Keys to a window, as typed.
keys() {
    win=$1
    shift
    xdotool windowfocus --sync "$win" 2>/dev/null
    sleep 0.2
    xdotool key --delay 80 "$@"
}
# A screenshot of the screen cut to the given windows (with a margin); the
# first one is made the active window.
shot() {
    name=$1
    shift
    xdotool windowfocus --sync "$1" 2>/dev/null
    sleep 0.6   # let the windows finish painting
    box=""
    for w in "$@"; do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        box="$box $X $Y $((X + WIDTH)) $((Y + HEIGHT))"
    done
    set -- $box
    x0=$1 y0=$2 x1=$3 y1=$4
    while [ $# -ge 4 ]; do
        [ "$1" -lt "$x0" ] && x0=$1
        [ "$2" -lt "$y0" ] && y0=$2
        [ "$3" -gt "$x1" ] && x1=$3
        [ "$4" -gt "$y1" ] && y1=$4
        shift 4
    done
    x0=$((x0 - 12)) y0=$((y0 - 12)) x1=$((x1 + 12)) y1=$((y1 + 12))
    [ $x0 -lt 0 ] && x0=0
    [ $y0 -lt 0 ] && y0=0
    import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$OUT/$name.png"
    echo "screenshot $OUT/$name.png"
}
start_app() {
    "$WINE_RUN" "$EXE" &
    APP_PID=$!
}
finish_app() {
    wait "$APP_PID"
    status=$?
    APP_PID=""
    return $status
}

# --- Run ------------------------------------------------------------------
if [ $HEADLESS = 0 ]; then
    say "Opening the dialog on $DISPLAY: 実行, then はい, runs the update"
    "$WINE_RUN" "$EXE"
    status=$?
else
    say "Server mode: the dialog only (キャンセル)"
    reg32 add 'HKLM\SOFTWARE\TALMERO\BaseSrv' /v InstallPath /t REG_SZ /d "$INSTALL_WIN" /f
    start_app
    dialog=$(wait_window "$CAPTION") || { echo "demo: no dialog" >&2; exit 1; }
    shot 1-main-dialog-server "$dialog"
    keys "$dialog" Escape
    finish_app
    echo "exit status $? (4: cancelled)"
    reg32 delete 'HKLM\SOFTWARE\TALMERO\BaseSrv' /f

    say "Client mode: 実行, はい, OK"
    start_app
    dialog=$(wait_window "$CAPTION") || { echo "demo: no dialog" >&2; exit 1; }
    shot 2-main-dialog-client "$dialog"
    keys "$dialog" space                         # 実行 has the focus
    confirm=$(wait_window "確認") || { echo "demo: no confirmation" >&2; exit 1; }
    shot 3-confirmation "$dialog" "$confirm"
    keys "$confirm" shift+Tab space              # from いいえ (the default) to はい
    result=$(wait_window "完了|エラー") || { echo "demo: no result box" >&2; exit 1; }
    shot 4-result "$dialog" "$result"
    keys "$result" Return
    finish_app
    status=$?
fi
echo "exit status $status (0: updated, 1: the update failed, 4: cancelled)"

# --- What happened ---------------------------------------------------------
say "Log $LOG"
if [ -f "$LOG" ]; then
    iconv -f CP932 -t UTF-8 "$LOG" | tr -d '\r'
    cp "$LOG" "$OUT/Update_Log.txt"
fi

listing >"$OUT/feature-after.txt"
say "Feature folder: what changed"
awk -F'\t' '
    NR == FNR { before[$1] = $2 "\t" $3; next }
    { after[$1] = $2 "\t" $3 }
    END {
        for (f in after)
            if (!(f in before)) printf "  new      %-20s %8d bytes\n", f, after[f]
            else if (before[f] != after[f]) printf "  changed  %-20s %8d bytes\n", f, after[f]
        for (f in before)
            if (!(f in after)) printf "  gone     %-20s\n", f
    }' "$OUT/feature-before.txt" "$OUT/feature-after.txt" | sort -k1,1 -k2 >"$OUT/feature-changes.txt"
if [ -s "$OUT/feature-changes.txt" ]; then
    cat "$OUT/feature-changes.txt"
else
    echo "  (nothing)"
fi
say "patchjob.ini now"
iconv -f CP932 -t UTF-8 "$FEATURE_DIR/patchjob.ini" 2>/dev/null | tr -d '\r'
if [ $HEADLESS = 1 ]; then
    say "Screenshots"
    ls -1 "$OUT"/*.png
fi
exit 0
