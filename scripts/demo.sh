#!/usr/bin/env bash
# ./dev demo: a scripted scenario in the sandbox that shows, step by step, what the daemon
# does, and ends with the simulator's timeline. Every step waits for its effect (polling the
# simulator's CLI with a deadline) instead of sleeping for a fixed time.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "${1:-}" != "--inside" ]; then
    exec "$ROOT/scripts/sandbox.sh" bash "$ROOT/scripts/demo.sh" --inside
fi

if [ -t 1 ]; then bold=$'\e[1m' dim=$'\e[2m' off=$'\e[0m'; else bold="" dim="" off=""; fi
n=0
step() {
    n=$((n + 1))
    printf '\n%s== %d. %s%s\n' "$bold" "$n" "$1" "$off"
    shift
    for line in "$@"; do printf '   %s\n' "$line"; done
}
# Shows a command as one would type it, then runs it.
show() {
    local shown="" arg
    for arg in "$@"; do
        if [[ "$arg" =~ ^[A-Za-z0-9_./:=,+-]+$ ]]; then
            shown+=" $arg"
        else
            shown+=" '${arg//\'/\'\\\'\'}'"
        fi
    done
    printf '%s$%s%s\n' "$dim" "$shown" "$off"
    "$@"
}
# wait_for PATTERN COMMAND...: polls COMMAND until its output matches the extended regular
# expression PATTERN (10 s at most), then prints the matching parts.
wait_for() {
    local pattern="$1" out
    shift
    for _ in $(seq 1 500); do
        if out=$("$@" 2>/dev/null) && grep -qE -- "$pattern" <<<"$out"; then
            grep -oE -- "$pattern" <<<"$out" | sed 's/^/   /'
            return 0
        fi
        sleep 0.02
    done
    echo "demo: gave up waiting for /$pattern/ in: $*" >&2
    exit 1
}
# One flat record of a JSON log, selected by a fragment of it.
record() { printf '\\{[^{}]*%s[^{}]*\\}' "$1"; }

step "Start-up" \
    "The sandbox started the simulator (device services and cast receiver in one process) and" \
    "the daemon. The daemon registers its seven message-bus MIDs, waits for the cast control" \
    "socket /tmp/cast-control, then creates the cast control and starts the cast library."
wait_for "$(record '"op":"CastCliInit"')" orvixsim cast log
show orvixsim bus listeners
wait_for 'bus +vemo-1 registered.*|syslog .*WaitForCastConnection.*|cast +Create.*' \
    orvixsim timeline

step "A client asks for the consent settings" \
    "A phone app sends a JSON GET request on MID 571; the daemon answers on MID 572 from the" \
    "settings store."
show orvixsim bus write 571 '{"request_type":"get","id":"tos","device_uuid":"phone-1"}'
wait_for '"payload":"\{.*"status\\":\\"success\\".*' orvixsim bus read 572

step "A cast receiver connects and reports its status" \
    "On connection the daemon gives the receiver the device's name; the status the receiver" \
    "sends back is spread to the message bus (name on MID 90, version on MID 7) and settings."
show orvixsim name set "Living Room"
show orvixsim cast connect
wait_for "$(record '"op":"SetDeviceName"')" orvixsim cast log
show orvixsim cast status --name "Living Room Speaker" --build 1.56.281627 --locale en-GB \
    --usage-report 1
wait_for '"payload":"Living Room Speaker"' orvixsim bus read 90
wait_for '"payload":"1.56.281627"' orvixsim bus read 7
wait_for '"value":"1.56.281627"' orvixsim env get GoogleCastFirmwareVersion
wait_for '"value":"true"' orvixsim env get GoogleCastUsageReport

step "A track plays" \
    "The receiver asks for the speaker: the daemon asks the source-switch service, then grants" \
    "the receiver its resources. The media status becomes a now-playing record for the UI," \
    "and the play position is published on MID 49 every second."
show orvixsim cast request-resources
wait_for "$(record '"op":"PlayMySource"')" orvixsim source log
wait_for "$(record '"op":"GrantResources"')" orvixsim cast log
show orvixsim cast media --state 2 --time 30 --stream 1 --duration 215.5 \
    --title "Quiet Harbour" --artist "The Lanterns" --album "Night Ferry"
wait_for '"op":"metadata","fields":\{[^}]*\}' orvixsim ui log
wait_for '"payload":"3[1-9]000"' orvixsim bus read 49

step "Pause from the device" \
    "The device's pause button reaches the daemon through the source-switch service; the" \
    "daemon sends play command 1 (pause) to the receiver."
show orvixsim source play-control PAUSE
wait_for "$(record '"args":\[1\],"op":"SendPlayCommand"')" orvixsim cast log

step "Suspend" \
    "A suspend alert on MID 115 suspends the cast control with reason 3; the controller" \
    "thread then exits the cast library. The process itself stays."
show orvixsim bus write 115 suspend
wait_for "$(record '"op":"Suspend"')|$(record '"op":"CastCliExit"')" orvixsim cast log
if kill -0 "${ORVIXCAST_PID:-0}" 2>/dev/null; then
    echo "   orvixcast (pid $ORVIXCAST_PID) is still running"
fi

step "Timeline" "Everything the simulator saw, in one order (seq, seconds, area, what happened):"
orvixsim timeline
