#!/usr/bin/env bash
# The display that scripts/run shares on a machine without one: the X server
# takes only this run's cookie, the VNC server only this run's password (never
# the security type "None"), both files are the user's alone, and VNC listens
# on loopback only.
set -euo pipefail
# shellcheck source=scripts/display.sh
. "$(dirname "$0")/../scripts/display.sh"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$work"' EXIT
unset DISPLAY XAUTHORITY AMBULON_VNC_PORT

start_shared_display "$work"
for file in xvfb.auth vnc-password; do
    test "$(stat -c %a "$work/$file")" = 600
done
xdotool getdisplaygeometry >/dev/null
if XAUTHORITY=/dev/null xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "the display takes a client without the cookie" >&2
    exit 1
fi
ss -Hltn "sport = :$vnc_port" | awk '{ print $4 }' | while read -r address; do
    case $address in
    127.0.0.1:* | "[::1]:"*) ;;
    *) echo "VNC listens on $address" >&2 && exit 1 ;;
    esac
done

# The start of an RFB 3.8 handshake: the server's version, ours, then the list of
# security types it offers (1 is "None", 2 is VNC authentication).
types=$(timeout 10 bash -c '
    exec 3<>"/dev/tcp/127.0.0.1/$1"
    [ "$(head -c 12 <&3)" = "RFB 003.008" ]
    printf "RFB 003.008\n" >&3
    count=$(head -c 1 <&3 | od -An -tu1)
    head -c "$count" <&3 | od -An -tu1' rfb "$vnc_port" | xargs)
echo "VNC on port $vnc_port offers security types: $types"
[[ " $types " == *" 2 "* && " $types " != *" 1 "* ]]
