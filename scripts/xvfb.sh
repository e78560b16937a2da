# Sourced by the scripts that need an X display of their own.
#
# start_xvfb FIRST GEOMETRY: starts Xvfb on the first free display number
# from FIRST, waits until it listens, exports DISPLAY and sets XVFB_PID.
# stop_xvfb ends it again.
XVFB_PID=""

start_xvfb() {
    n=$1
    ready=$(mktemp)
    while [ "$n" -lt $(($1 + 100)) ]; do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            # Another run may take the same number at the same moment: Xvfb
            # writes the number to its -displayfd only once it holds it and
            # listens, and ends at once when another server has it.
            : >"$ready"
            Xvfb ":$n" -displayfd 3 -screen 0 "$2" -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
            XVFB_PID=$!
            i=0
            while [ ! -s "$ready" ] && kill -0 "$XVFB_PID" 2>/dev/null && [ $i -lt 100 ]; do
                sleep 0.1
                i=$((i + 1))
            done
            if [ -s "$ready" ]; then
                rm -f "$ready"
                export DISPLAY=":$n"
                return 0
            fi
            stop_xvfb
        fi
        n=$((n + 1))
    done
    rm -f "$ready"
    echo "xvfb: no free display from :$1" >&2
    return 1
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    fi
}
