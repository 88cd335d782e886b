#!/usr/bin/env bash
# ./dev sandbox [--no-daemon] [COMMAND...]
# Runs COMMAND (default: an interactive shell) inside a fresh private sandbox where the
# simulator (orvixsim run --syslog) and, unless --no-daemon, the daemon (orvixcast) are
# running, with both binaries and a recording amixer on PATH. Stops what it started and exits
# with COMMAND's status. Nothing outside the sandbox's own namespaces is touched.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${ORVIX_BUILD_DIR:-$ROOT/build}"

if [ "${1:-}" != "--inside" ]; then
    for bin in orvixsim orvixcast; do
        if [ ! -x "$BUILD/$bin" ]; then
            echo "sandbox: $BUILD/$bin is missing; run ./dev build first" >&2
            exit 1
        fi
    done
    # The sandbox has its own /tmp, /data and /run: folders there that we need inside (the
    # caller's folder, the sources, the build) are bound in explicitly.
    binds=()
    for dir in "$PWD" "$ROOT" "$BUILD"; do
        case "$dir" in
            /tmp | /tmp/* | /data | /data/* | /run | /run/*) binds+=(--bind "$dir" "$dir") ;;
        esac
    done
    # The sandbox starts at / (always there); the inner half moves on to the caller's folder
    # once it is bound in.
    caller="$PWD"
    cd /
    set +e
    "$ROOT/scripts/in-sandbox.sh" "${binds[@]}" env ORVIX_BUILD_DIR="$BUILD" \
        bash "$ROOT/scripts/sandbox.sh" --inside "$caller" "$@"
    status=$?
    set -e
    if [ "$status" -eq 77 ]; then
        echo "sandbox: bubblewrap is not installed (./dev setup installs it)" >&2
        exit 1
    fi
    exit "$status"
fi
cd "$2"
shift 2

daemon=1
if [ "${1:-}" = "--no-daemon" ]; then
    daemon=0
    shift
fi

export ORVIXSIM_DIR=/tmp/orvixsim
BIN=/tmp/orvix-sandbox/bin
mkdir -p "$BIN" /data/time
: >/data/time/timezone
ln -sf "$BUILD/orvixsim" "$BIN/orvixsim"
ln -sf "$BUILD/orvixcast" "$BIN/orvixcast"
# The daemon unmutes through the mixer; this one only records that it was asked to.
cat >"$BIN/amixer" <<'STUB'
#!/bin/sh
echo "$*" >>/tmp/amixer.log
STUB
chmod +x "$BIN/amixer"
export PATH="$BIN:$PATH"

sim_pid=""
daemon_pid=""
stop_all() {
    if [ -n "$daemon_pid" ] && kill -0 "$daemon_pid" 2>/dev/null; then
        kill -TERM "$daemon_pid" 2>/dev/null || true
        wait "$daemon_pid" 2>/dev/null || true
    fi
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap stop_all EXIT

orvixsim run --syslog >/tmp/orvixsim.log 2>&1 &
sim_pid=$!

# Polls until the simulator's control socket and /dev/log are there (10 s at most).
for _ in $(seq 1 500); do
    if [ -S "$ORVIXSIM_DIR/control.sock" ] && [ -S /dev/log ] && [ -S /tmp/cast-control ]; then
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "sandbox: the simulator did not start:" >&2
        cat /tmp/orvixsim.log >&2
        exit 1
    fi
    sleep 0.02
done
if [ ! -S "$ORVIXSIM_DIR/control.sock" ]; then
    echo "sandbox: the simulator is not ready after 10 s" >&2
    exit 1
fi

if [ "$daemon" -eq 1 ]; then
    orvixcast >/tmp/orvixcast.log 2>&1 &
    daemon_pid=$!
    # COMMAND starts once the daemon has registered on the bus and made its cast control.
    ready=0
    for _ in $(seq 1 500); do
        if orvixsim cast log 2>/dev/null | grep -q '"op":"CastCliInit"'; then
            ready=1
            break
        fi
        kill -0 "$daemon_pid" 2>/dev/null || break
        sleep 0.02
    done
    if [ "$ready" -eq 0 ]; then
        echo "sandbox: orvixcast is not ready (see /tmp/orvixcast.log and orvixsim syslog)" >&2
    fi
fi
# For COMMAND: which processes to watch (or stop and start again).
export ORVIXSIM_PID="$sim_pid" ORVIXCAST_PID="$daemon_pid"

if [ $# -eq 0 ]; then
    echo "sandbox: orvixsim${daemon_pid:+ and orvixcast (pid $daemon_pid)} running; logs in /tmp/orvixsim.log; exit to leave"
    set +e
    PS1='[orvix-sandbox] \w\$ ' bash --norc -i
    status=$?
else
    set +e
    "$@"
    status=$?
fi
set -e
exit "$status"
