# Sourced by the scripts that need an X display of their own.
#
# start_xvfb FIRST GEOMETRY: starts Xvfb on the first free display number
# from FIRST (no lock file and no socket for it), waits for its socket,
# exports DISPLAY and sets XVFB_PID. stop_xvfb ends it again.
XVFB_PID=""

start_xvfb() {
    n=$1
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
        n=$((n + 1))
    done
    Xvfb ":$n" -screen 0 "$2" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    export DISPLAY=":$n"
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    fi
}
