#!/usr/bin/env bash
# scripts/run as a newcomer meets it on a machine without a display: it starts
# the simulator and the panel on its shared virtual display, xdotool finds the
# panel's window there, and File, Exit ends the run with status 0 and the
# simulator with it.
#   run-script.sh LAYOUT  LAYOUT prints where File is in the panel's window
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/display.sh
. "$root/scripts/display.sh"
layout=$1
work=$(mktemp -d)
run=
trap '[ -n "$run" ] && kill "$run" 2>/dev/null; wait; rm -rf "$work"' EXIT
ended() { ! kill -0 "$1" 2>/dev/null; }

# The environment of a login without a display; the tests' own settings stay out.
unset DISPLAY XAUTHORITY WAYLAND_DISPLAY QT_QPA_PLATFORM AMBULON_VNC_PORT
export AMBULON_SIM_PORT=$((20000 + $$ % 20000))
"$root/scripts/run" >"$work/run.log" 2>&1 &
run=$!
wait_until 120 "$run" grep -q 'panel runs on the virtual display' "$work/run.log" || true
display=$(sed -n 's/.*panel runs on the virtual display \(:[0-9]*\),.*/\1/p' "$work/run.log")
[ -n "$display" ] || { cat "$work/run.log" >&2; echo "scripts/run showed no virtual display" >&2; exit 1; }
export DISPLAY=$display XAUTHORITY=$root/build/xvfb.auth

panel=$(pgrep -n -f "^$root/build/bin/ambulon") || { cat "$work/run.log" >&2; echo "no panel runs" >&2; exit 1; }
window=$("$root/tests/wait-for-window" "$panel" 30) || { cat "$work/run.log" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "the panel's window: ${WIDTH}x${HEIGHT} at $X,$Y on $DISPLAY"
positions=$(QT_XCB_GL_INTEGRATION=none "$layout") || { echo "$layout failed" >&2; exit 1; }
read -r _ fx fy <<<"$(grep '^file ' <<<"$positions")"
sleep 0.3 # the first paint
xdotool mousemove --sync $((X + fx)) $((Y + fy)) click 1
sleep 0.3
# The panel may close, and the run take its display down, before xdotool has
# let go of Return: the run's own status is the verdict.
xdotool key Down Return 2>"$work/key.err" || echo "xdotool key: $(cat "$work/key.err")"

status=timeout
if wait_until 20 - ended "$run"; then
    status=0
    wait "$run" || status=$?
fi
run=
echo "scripts/run ended with status $status after File, Exit"
[ "$status" = 0 ] || { cat "$work/run.log" >&2; exit 1; }
# Its simulator went with it.
! pgrep -f "treadmill-sim --host 127.0.0.1 --port $AMBULON_SIM_PORT" >/dev/null
