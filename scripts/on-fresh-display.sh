#!/usr/bin/env bash
# Runs a command on an X server of its own, as a program meets a user's desktop: a fresh Xvfb
# (1920x1080, 24 bits, no TCP, no window manager), started for the command and ended after it.
# Nothing else shares the server. It is not told to keep going when its last client leaves
# (-noreset); instead one idle client of the script's own stays connected from the start, as a
# desktop session does. Without it, the server resets each time a tool's short connection (an
# xdotool query, say) happens to be the last one, and refuses the program's connection meanwhile.
#
#   scripts/on-fresh-display.sh COMMAND [ARGUMENTS...]
#
# The command finds the server in $DISPLAY. Exits with the command's status, or 125 when the
# server did not start.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 COMMAND [ARGUMENTS...]" >&2
    exit 2
fi

scratch=$(mktemp -d)
server=
session=
finish() {
    if [[ -n $session ]]; then
        kill "$session" 2>/dev/null
        wait "$session" 2>/dev/null
    fi
    if [[ -n $server ]]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap finish EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display number and writes it to the descriptor once it takes connections.
exec {numberfd}>"$scratch/display"
Xvfb -displayfd "$numberfd" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/server.log" 2>&1 &
server=$!
exec {numberfd}>&-

number=
for _ in $(seq 400); do
    read -r number <"$scratch/display" 2>/dev/null || true
    [[ $number =~ ^[0-9]+$ ]] && break
    number=
    if ! kill -0 "$server" 2>/dev/null; then
        break
    fi
    sleep 0.05
done
if [[ -z $number ]]; then
    echo "$0: Xvfb did not start:" >&2
    sed 's/^/    /' "$scratch/server.log" >&2
    exit 125
fi

export DISPLAY=:$number
# The session's client prints once it is connected, then waits for a property nobody sets.
xprop -root -spy _LF_SESSION >"$scratch/session" 2>&1 &
session=$!
for _ in $(seq 400); do
    [[ -s $scratch/session ]] && break
    sleep 0.05
done
"$@"
