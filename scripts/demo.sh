#!/usr/bin/env bash
# ./dev demo: a scripted scenario in the sandbox that shows, step by step, what the daemon
# does, and ends with the simulator's timeline. Every step waits for its effect (polling the
# simulator's CLI with a deadline) instead of sleeping for a fixed time.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "${1:-}" != "--inside" ]; then
    # The demo starts the daemon itself, once the receiver's setup service has its answer.
    exec "$ROOT/scripts/sandbox.sh" --no-daemon bash "$ROOT/scripts/demo.sh" --inside
fi

if [ -t 1 ]; then bold=$'\e[1m' dim=$'\e[2m' off=$'\e[0m'; else bold="" dim="" off=""; fi
n=0
seen=0
# step CAPTION: a numbered caption; what the step waits for is looked for from here on.
step() {
    # Watched in the front panel, each step gets time to be seen (./dev demo --panel).
    [ -z "${ORVIX_DEMO_PAUSE:-}" ] || sleep "$ORVIX_DEMO_PAUSE"
    n=$((n + 1))
    printf '\n%s== %d. %s%s\n' "$bold" "$n" "$1" "$off"
    seen=$(orvixsim timeline | wc -l)
}
# Shows a command as one would type it.
echo_command() {
    local shown="" arg
    for arg in "$@"; do
        if [[ "$arg" =~ ^[A-Za-z0-9_./:=,+-]+$ ]]; then
            shown+=" $arg"
        else
            shown+=" '${arg//\'/\'\\\'\'}'"
        fi
    done
    printf '%s$%s%s\n' "$dim" "$shown" "$off"
}
# Shows a command, then runs it with its output.
show() {
    echo_command "$@"
    "$@"
}
# Shows a command, then runs it; its answer is left out, the timeline shows the effect.
act() {
    echo_command "$@"
    "$@" >/dev/null
}
# wait_new PATTERN [COUNT]: polls the timeline until COUNT (default 1) of the lines that came
# since the step began match the extended regular expression PATTERN (10 s at most), then
# prints them.
wait_new() {
    local pattern="$1" count="${2:-1}" lines
    for _ in $(seq 1 500); do
        lines=$(orvixsim timeline | tail -n "+$((seen + 1))" | grep -E -- "$pattern" || true)
        if [ -n "$lines" ] && [ "$(wc -l <<<"$lines")" -ge "$count" ]; then
            head -n "$count" <<<"$lines" | sed 's/^ */   /'
            return 0
        fi
        sleep 0.02
    done
    echo "demo: gave up waiting for /$pattern/ in the timeline" >&2
    exit 1
}

daemon_pid=""
stop_daemon() {
    if [ -n "$daemon_pid" ] && kill -0 "$daemon_pid" 2>/dev/null; then
        kill -TERM "$daemon_pid" 2>/dev/null || true
        wait "$daemon_pid" 2>/dev/null || true
    fi
}
trap stop_daemon EXIT

step "Start-up: the daemon copies the receiver's setup info into the settings"
echo "   The receiver has no terms accepted but crash reports on; the device has a name, a"
echo "   multi-room delay of 120 ms and a timezone."
act orvixsim eureka body '{"tos_accepted":false,"opt_in":{},"crash":true}'
act orvixsim name set "Living Room"
act orvixsim env set GoogleCastPlayerLatency 120
act orvixsim env set TimeZone Europe/London
printf '%s$ orvixcast &%s\n' "$dim" "$off"
orvixcast >/tmp/orvixcast.log 2>&1 &
daemon_pid=$!
wait_new 'bus +vemo-1 registered'
wait_new 'cast +CastCliInit'
wait_new 'eureka +GET'
wait_new 'env +daemon set' 2

step "An app asks for the consent state"
act orvixsim bus write 571 '{"request_type":"get","id":"tos","device_uuid":"phone-1"}'
wait_new 'wrote MID 572'

step "The app accepts the terms; the receiver is asked (the timezone goes along)"
act orvixsim bus write 571 \
    '{"request_type":"set","id":"tos","action":"accepted","device_uuid":"phone-1","user_ip":"192.0.2.7"}'
wait_new 'cast +AcceptTos'
wait_new 'cast +SetTimezone'

step "The receiver answers: the app gets its reply, the acceptance is stored"
id=$(orvixsim cast log | grep -oE '"op":"AcceptTos","result":[0-9]+' | grep -oE '[0-9]+$')
act orvixsim cast respond "$id" 0
wait_new 'env +daemon set GoogleCastTOS'
wait_new 'wrote MID 572'

step "The app asks again"
act orvixsim bus write 571 '{"request_type":"get","id":"tos","device_uuid":"phone-1"}'
wait_new 'wrote MID 572'

step "A receiver connects: it gets the device's name and delay, and is asked for its status"
act orvixsim cast connect
wait_new 'cast +SetDeviceName'
wait_new 'cast +SetMultizoneDelay'
wait_new 'cast +RequestCastStatus'

step "Its status reaches the bus, the settings and the device's clock"
act orvixsim cast status --name "Living Room Speaker" --build 1.56.281627 --locale en-GB \
    --usage-report 1 --timezone Europe/Berlin
wait_new 'wrote MID (90|7) ' 3
wait_new 'env +daemon set' 5
show cat /data/time/timezone
echo
show readlink /data/time/localtime

step "The device's timezone changes: its owner app stores it and alerts MID 573"
act orvixsim env set TimeZone Asia/Tokyo
act orvixsim bus write 573 ""
wait_new 'cast +SetTimezone'

step "A sender asks for the speaker and gets it, at the device's volume (MID 64)"
act orvixsim bus write 64 45
act orvixsim cast request-resources
wait_new 'source +PlayMySource'
wait_new 'cast +GrantResources'
wait_new 'cast +CastCliSyncVolume'

step "A track plays: now playing on the UI, the position on MID 49 every second"
act orvixsim cast media --state 2 --time 12.7 --stream 1 --duration 215.5 \
    --title "Quiet Harbour" --artist "The Lanterns" --album "Night Ferry"
wait_new 'source +UpdatePlayerState'
wait_new 'ui +metadata'
wait_new 'wrote MID 49' 2

step "The device's pause button pauses the cast; the receiver reports it paused"
act orvixsim source play-control PAUSE
wait_new 'cast +SendPlayCommand'
act orvixsim cast media --state 3 --time 13.6 --stream 1 --duration 215.5 \
    --title "Quiet Harbour" --artist "The Lanterns" --album "Night Ferry"
wait_new 'source +UpdatePlayerState'
wait_new 'wrote MID 49 .*"13000"'

step "Volume both ways: the device's to the receiver, the sender's slider to the device"
act orvixsim source volume 55
wait_new 'cast +CastCliSyncVolume'
act orvixsim cast volume 57
wait_new 'source +UpdateAppVolume'

step "Another source takes the speaker: cast yields, then the receiver lets go"
act orvixsim source switch
wait_new 'source +UpdatePlayerState'
wait_new 'cast +RevokeResources'
act orvixsim cast release-resources
wait_new 'ui +clear'
wait_new 'source +NotifyPlaybackStopped'

step "Standby: the receiver's resources are revoked"
act orvixsim source play-control STANDBYON
wait_new 'cast +RevokeResources'
wait_new 'STANDBY_ON'

step "Suspend: the controller thread exits the cast library; the process stays"
act orvixsim bus write 115 suspend
wait_new 'cast +Suspend'
wait_new 'cast +CastCliExit'
if kill -0 "$daemon_pid" 2>/dev/null; then
    echo "   orvixcast (pid $daemon_pid) is still running"
fi

step "Timeline"
echo "   Everything the simulator saw, in one order (seq, seconds, area, what happened):"
orvixsim timeline
