#!/usr/bin/env bash
# Sourced by what needs a virtual display or waits on what it started:
# scripts/run and scripts/check-package, tests/wine-run, the shared-display
# test, tests/run-script.sh and tests/bound-entry-points. The caller installs
# display_packages (and vnc_packages for the shared one) and keeps the
# servers' process IDs in its array pids, to end them.

# wait_until SECONDS PROCESS COMMAND...: runs COMMAND every tenth of a second
# until it succeeds; fails after SECONDS, or as soon as PROCESS (a process ID,
# or - for none) has ended.
wait_until() {
    local tenths=$(($1 * 10)) process=$2
    shift 2
    while [ "$tenths" -gt 0 ]; do
        "$@" && return 0
        [ "$process" = - ] || kill -0 "$process" 2>/dev/null || return 1
        sleep 0.1
        tenths=$((tenths - 1))
    done
    return 1
}

# start_display FILE [XVFB OPTION...]: starts a virtual display (Xvfb, no
# TCP), adds it to the array pids, waits until it takes clients and exports
# DISPLAY; FILE receives its number.
start_display() {
    local file=$1
    shift
    rm -f "$file"
    Xvfb -displayfd 3 -nolisten tcp "$@" 3>"$file" 2>/dev/null &
    pids+=($!)
    wait_until 10 - test -s "$file" || { echo "The virtual display did not start." >&2; return 1; }
    DISPLAY=":$(cat "$file")"
    export DISPLAY
}

# start_shared_display DIR: starts a virtual display for the panel and shares it by
# VNC on loopback only, on port AMBULON_VNC_PORT or the first free one from 5900.
# The display takes only X clients that hold this run's cookie, and VNC only
# viewers that give this run's password: a panel that drives a treadmill must
# not be open to every account on the machine. Both are kept in DIR, readable by
# this user alone. Exports DISPLAY and XAUTHORITY, sets vnc_port and
# vnc_password_file, and adds the two servers to the array pids.
start_shared_display() {
    local dir=$1 cookie
    rm -f "$dir/xvfb.auth" "$dir/vnc-password" "$dir/x11vnc.out"
    (
        umask 077
        cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
        # A wildcard entry (any address, any display number), so that it holds
        # for whichever display Xvfb picks.
        echo "ffff 0000  0000  0012 4d49542d4d414749432d434f4f4b49452d31 0010 $cookie" |
            xauth -q -f "$dir/xvfb.auth" nmerge - 2>/dev/null
        # VNC's own authentication reads eight characters at most.
        head -c 6 /dev/urandom | base64 >"$dir/vnc-password"
    )
    # 96 dpi unless AMBULON_DPI asks for another density (Xvfb's own default,
    # about 100, would scale the panel by 1.04), given as a desktop gives it:
    # Xft.dpi, which Qt reads on every release. -noreset keeps the setting
    # when xrdb, the first client, leaves.
    local dpi=${AMBULON_DPI:-96}
    start_display "$dir/xvfb.display" -auth "$dir/xvfb.auth" -screen 0 1280x800x24 -dpi "$dpi" \
        -noreset
    export XAUTHORITY="$dir/xvfb.auth"
    echo "Xft.dpi: $dpi" | xrdb -nocpp -merge
    x11vnc -display "$DISPLAY" -auth "$XAUTHORITY" -localhost -passwdfile "$dir/vnc-password" \
        ${AMBULON_VNC_PORT:+-rfbport "$AMBULON_VNC_PORT"} -forever -shared \
        >"$dir/x11vnc.out" 2>"$dir/x11vnc.log" &
    pids+=($!)
    wait_until 30 "$!" grep -q '^PORT=' "$dir/x11vnc.out" || true
    vnc_port=$(sed -n 's/^PORT=//p' "$dir/x11vnc.out")
    # shellcheck disable=SC2034 # for the caller, which tells the user
    vnc_password_file=$dir/vnc-password
    if [ -z "$vnc_port" ]; then
        echo "The VNC server did not start; its log: $dir/x11vnc.log" >&2
        return 1
    fi
}
