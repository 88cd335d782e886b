#!/usr/bin/env bash
# Runs a command in a private sandbox: a fresh root with the machine's top-level folders bound
# in one by one, private tmpfs /tmp and /data (with /data/time), a private /dev, a
# loopback-only network and its own pid namespace. The fixed paths and ports the daemon uses
# (/tmp/cast-control, /data/time, 127.0.0.1:8008, /dev/log) are then the sandbox's own, and
# nothing is created on the machine. Exits 77 (ctest's "skipped") only when bubblewrap is not
# installed; installed, a sandbox that cannot start is a failure (exit 1, the reason on stderr):
# a test that did not run must not pass for one that did.
set -euo pipefail

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

if ! command -v bwrap >/dev/null 2>&1; then
    echo "SKIP: bubblewrap (bwrap) is not installed"
    exit 77
fi

args=(--die-with-parent --unshare-net --unshare-pid --unshare-ipc --unshare-uts
      --hostname orvix-sandbox --proc /proc --dev /dev --perms 1777 --tmpfs /tmp --tmpfs /data
      --dir /data/time --tmpfs /run)
# Binding / itself and then mounting on /data would create /data on the machine: bind the
# top-level entries one by one instead.
for entry in /*; do
    name="${entry#/}"
    case "$name" in
        proc | dev | tmp | data | run | sys | lost+found) continue ;;
    esac
    if [ -L "$entry" ]; then
        args+=(--symlink "$(readlink "$entry")" "$entry")
    elif [ -d "$entry" ]; then
        case "$name" in
            usr | etc | bin | sbin | lib | lib32 | lib64 | libx32 | opt | boot | var)
                args+=(--ro-bind "$entry" "$entry") ;;
            *) args+=(--bind "$entry" "$entry") ;;
        esac
    fi
done
[ -d /sys ] && args+=(--ro-bind /sys /sys)
args+=(--chdir "$PWD" --setenv ORVIX_IN_SANDBOX 1)

if ! probe=$(bwrap "${args[@]}" true 2>&1); then
    echo "in-sandbox: bubblewrap is installed but cannot make a sandbox here: ${probe//$'\n'/ }" >&2
    exit 1
fi
exec bwrap "${args[@]}" "$@"
