#!/usr/bin/env bash
# boot_test.sh BUILD_DIR: the daemon and the simulator as `cmake --install` lays them out, booted
# by systemd in a Debian 12 container: who the daemon runs as, a short session through the
# simulator's CLI, what its unit forbids it, a restart after a crash. Exits 77 with one line where
# no container can boot here. ORVIX_ROOTFS_CACHE: where the Debian roots are kept.
set -uo pipefail
skip() { echo "SKIP: $*"; exit 77; }
die() { echo "FAIL: $*"; exit 1; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ "$(id -u)" -eq 0 ] || skip "systemd-nspawn boots a container as root only"
command -v mmdebstrap systemd-nspawn nsenter ip >/dev/null ||
    skip "no mmdebstrap, systemd-nspawn or ip here (./dev check installs them from the mirror)"
BUILD=$(realpath "$1") WORK=$(mktemp -d /var/tmp/orvixcast-boot.XXXXXX) ROOTFS=""
nspawn="" failures=0
finish() {
    if [ -n "$nspawn" ]; then # SIGTERM: the container's systemd powers off
        kill -TERM "$nspawn" && within 30 eval '! kill -0 "$nspawn"' || kill -KILL "$nspawn"
        wait "$nspawn"
    fi 2>/dev/null
    [ -z "$ROOTFS" ] || umount "$ROOTFS"
    rm -rf "$WORK"
}
trap finish EXIT
# within SECONDS COMMAND...: COMMAND until it succeeds, for at most SECONDS (polled every 0.1 s).
within() {
    local end=$((${EPOCHREALTIME/./} + $1 * 1000000))
    shift
    until "$@"; do ((${EPOCHREALTIME/./} < end)) && sleep 0.1 || return 1; done
}

# A minbase root with systemd and the packages of the libraries the programs link, built once per
# package list in a folder only root writes; each run boots an overlay of its own on it.
DESTDIR="$WORK/stage" cmake --install "$BUILD" --prefix /usr >"$WORK/log" 2>&1 ||
    die "$(cat "$WORK/log")"
packages=$(ldd "$WORK"/stage/usr/bin/* |
    awk '$2 == "=>" && $3 ~ /^\// {sub("^/usr", "", $3); print "*" $3}' | sort -u |
    xargs dpkg -S | cut -d: -f1 | sort -u | paste -sd,)
include="systemd,systemd-sysv,dbus,$packages"
CACHE=${ORVIX_ROOTFS_CACHE:-/var/tmp/orvixcast-rootfs}
mkdir -p -m 0700 "$CACHE" && [ -O "$CACHE" ] && [ ! -L "$CACHE" ] || die "$CACHE is not root's own"
base="$CACHE/bookworm-$(echo "$include" | sha256sum | cut -c1-16)"
if [ ! -d "$base" ]; then
    mmdebstrap --variant=minbase --include="$include" bookworm "$base.new.$$" >"$WORK/log" 2>&1 ||
        { rm -rf "$base.new.$$"; skip "mmdebstrap cannot build a root: $(tail -n1 "$WORK/log")"; }
    mv -T "$base.new.$$" "$base" 2>/dev/null || rm -rf "$base.new.$$" # another run was first
fi
# Roots of other package lists, and ones left half-built, go when unused for a day (one in use
# is touched at each start).
touch "$base" && find "$CACHE" -mindepth 1 -maxdepth 1 ! -path "$base" -mmin +1440 -exec rm -rf {} +
mkdir -p "$WORK"/{upper,overlay,root}
mount -t overlay overlay -o "lowerdir=$base,upperdir=$WORK/upper,workdir=$WORK/overlay" \
    "$WORK/root" && ROOTFS="$WORK/root" || die "no overlay on $base"
cp -a "$WORK/stage/." "$ROOTFS/"
systemctl --root="$ROOTFS" enable orvixsim.service orvixcast.service >/dev/null 2>&1
# A mixer that records its words in the caller's /tmp (the container has no sound card), a
# probe run under the daemon's own unit with only its command changed, and a home to look into.
printf '#!/bin/sh\necho "$*" >>/tmp/amixer.log\n' >"$ROOTFS/usr/local/bin/amixer"
cat >"$ROOTFS/usr/local/bin/orvix-probe" <<'EOF'
#!/bin/bash
try() { local e; e=$( (eval "$2") 2>&1 >/dev/null) || e=${e:-"status $?"}
        e=${e:-ok}; echo "$1: ${e##*: }"; }
{ try etc ': >/etc/probe'; try usr ': >/usr/probe'; try var ': >/var/lib/probe'
  try home 'cat /home/owner/notes'; try loopback 'exec 3<>/dev/tcp/127.0.0.1/8008'
  try outside 'timeout 1 bash -c "exec 3<>/dev/tcp/192.0.2.1/9"'
  try ipv6 'exec 3<>/dev/tcp/::1/8008'; try nice 'nice -n 5 true'
  try devices ': </dev/net/tun'; } >/data/time/probe
EOF
chmod 755 "$ROOTFS"/usr/local/bin/{amixer,orvix-probe}
mkdir -p "$ROOTFS/home/owner" && echo "anyone may read this" >"$ROOTFS/home/owner/notes"
sed -e 's|^ExecStart=.*|ExecStart=/usr/local/bin/orvix-probe|' -e 's/^Type=.*/Type=oneshot/' \
    -e 's/^Restart=.*/Restart=no/' "$ROOTFS/usr/lib/systemd/system/orvixcast.service" \
    >"$ROOTFS/etc/systemd/system/orvixcast-probe.service"

# A host still on the legacy control groups hands the container the unified ones (the IP filter
# needs them), and its system-call filter lets the container's systemd load that filter.
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn --boot --private-network --register=no \
    --keep-unit --machine="orvixcast-$$" --system-call-filter=bpf -D "$ROOTFS" \
    >"$WORK/console.log" 2>&1 &
nspawn=$!
container() { pid=$(pgrep -P "$nspawn"); }
within 10 container || die "the container did not start: $(cat "$WORK/console.log")"
inside() { nsenter -t "$pid" -a env ORVIXSIM_DIR=/run/orvixsim "$@"; }
ctl() { inside orvixsim "$@"; }
within 30 inside test -S /run/systemd/private &&
    state=$(inside timeout 90 systemctl is-system-running --wait)
[ "${state:-}" = running ] || die "booted ${state:-not at all}: $(inside systemctl --failed)"
nsenter -t "$pid" -n ip addr add 192.0.2.1/32 dev lo

# Both services as their own users, with no capability and no way to gain one; the daemon last,
# whose status is looked at again below.
for service in orvixsim orvixcast; do
    status=$(inside cat "/proc/$(inside systemctl show -P MainPID "$service")/status")
    uid=$(inside id -u "$service")
    for want in "Uid:	$uid	$uid	$uid	$uid" "NoNewPrivs:	1" "Seccomp:	2" \
        Cap{Prm,Eff,Bnd,Amb}":	0000000000000000"; do
        grep -qxF "$want" <<<"$status" || fail "$service runs without '$want'"
    done
done
grep -qE "^Groups:.*\b$(inside getent group audio | cut -d: -f3)\b" <<<"$status" ||
    fail "orvixcast is not in the audio group"
daemon=$(inside systemctl show -P MainPID orvixcast)

# One short session: the consent state asked for on the bus, a receiver with its timezone, the
# volume both ways and an unmute through the mixer.
asked() {
    local p='{"crash_report":false,"device_uuid":"'$1'","id":"status","status":"success",'
    p+='"tos":"not_activated"}'
    ctl bus write 571 '{"request_type":"get","id":"tos","device_uuid":"'$1'"}' >/dev/null &&
        [ "$(ctl bus read 572)" = "{\"mid\":572,\"payload\":\"${p//\"/\\\"}\"}" ]
}
within 10 asked phone-1 || fail "no reply to a GET: $(ctl bus read 572)"
seen() { [[ $(ctl timeline) == *"$1"* ]]; }
ctl cast connect >/dev/null && ctl cast status --timezone Europe/Berlin >/dev/null
zone() { [ "$(cat "$ROOTFS/data/time/timezone")" = Europe/Berlin ] &&
         [ "$(readlink "$ROOTFS/data/time/localtime")" = /usr/share/zoneinfo/Europe/Berlin ]; }
within 5 zone || fail "the receiver's timezone did not reach /data/time"
ctl cast request-resources >/dev/null && ctl source volume 55 >/dev/null
within 5 seen 'CastCliSyncVolume[55]' || fail "the device's volume did not reach the receiver"
ctl cast volume 57 >/dev/null
within 5 seen 'UpdateAppVolume["57"]' || fail "the receiver's volume did not reach the device"
ctl cast mute 1 >/dev/null && ctl source volume 40 >/dev/null
unmuted() { [ "$(inside nsenter -t "$daemon" -m cat /tmp/amixer.log)" = "set Master unmute" ]; }
within 5 unmuted || fail "no unmute through the mixer"
# The receiver's socket is in the two services' own /tmp, not the system's.
inside nsenter -t "$daemon" -m test -S /tmp/cast-control || fail "the daemon has no cast socket"
[ ! -e "$ROOTFS/tmp/cast-control" ] || fail "/tmp/cast-control is in the system's /tmp"
[[ $(ctl eureka log) == *eureka_info* ]] || fail "the daemon did not reach the setup service"
# Its lines in the journal, each with its priority: error, notice, info, debug.
for row in "3 Alsa mixer is in UNMUTE state" "5 GET request is {" "6 Starting OrvixCast process" \
    "7 OnCastStatus() called"; do
    [[ $(inside journalctl _SYSTEMD_UNIT=orvixcast.service -p "${row%% *}..${row%% *}" -o cat) == \
        *"${row#* }"* ]] || fail "no '${row#* }' at priority ${row%% *} in the journal"
done

# What the unit forbids, tried under the unit itself; the address outside is there and answers.
inside systemctl start orvixcast-probe.service || fail "the probe did not run"
expected="etc: Read-only file system
usr: Read-only file system
var: Read-only file system
home: Permission denied
loopback: ok
outside: status 124
ipv6: Address family not supported by protocol
nice: Operation not permitted
devices: No such file or directory"
[ "$(cat "$ROOTFS/data/time/probe")" = "$expected" ] ||
    fail "under the unit: $(diff <(echo "$expected") "$ROOTFS/data/time/probe")"
[[ $(inside timeout 1 bash -c 'exec 3<>/dev/tcp/192.0.2.1/9' 2>&1) == *"Connection refused"* ]] ||
    fail "192.0.2.1 does not answer outside the unit either: the probe shows nothing"
for goal in orvixcast:15 orvixsim:20; do
    systemd-analyze security --offline=true --root="$ROOTFS" --threshold="${goal#*:}" \
        "${goal%:*}.service" >/dev/null || fail "${goal%:*}.service is exposed beyond its goal"
done

# Killed by SIGSEGV, it is started again and answers a GET within 5 s.
inside systemctl kill --kill-whom=main --signal=SIGSEGV orvixcast
within 5 asked phone-2 || fail "no GET answered within 5 s of a SIGSEGV"
[ "$(inside systemctl show -P NRestarts orvixcast)" = 1 ] || fail "the daemon was not restarted"

[ "$failures" -eq 0 ] || die "$failures failures; the services' last lines:
$(inside journalctl -u orvix\* | tail -n 40)"
echo "boot: all as expected"
