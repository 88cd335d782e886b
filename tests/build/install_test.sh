#!/usr/bin/env bash
# install_test.sh BUILD_DIR
# cmake --install lays out the programs and their systemd units under the prefix and DESTDIR
# given at install time, the units name the installed programs, and the stand-in SDK
# component holds what a device build needs.
set -uo pipefail
BUILD="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

DESTDIR="$WORK/dest" cmake --install "$BUILD" --prefix /opt/orvix >"$WORK/log" 2>&1 ||
    fail "install failed: $(cat "$WORK/log")"
units="$WORK/dest/opt/orvix/lib/systemd/system"
for program in orvixcast orvixsim; do
    [ -x "$WORK/dest/opt/orvix/bin/$program" ] || fail "bin/$program is not installed"
    grep -qx "ExecStart=/opt/orvix/bin/$program.*" "$units/$program.service" ||
        fail "$program.service does not start /opt/orvix/bin/$program"
done
grep -q '@[A-Z_]*@' "$units"/*.service &&
    fail "a unit keeps a placeholder: $(grep -h '@[A-Z_]*@' "$units"/*.service)"

# systemd's own reading of the units, where systemd is there: it wants the programs in place.
if command -v systemd-analyze >/dev/null; then
    cmake --install "$BUILD" --prefix "$WORK/real" >/dev/null 2>&1 || fail "install to $WORK/real failed"
    systemd-analyze verify "$WORK/real/lib/systemd/system/"{orvixcast,orvixsim}.service >"$WORK/verify" 2>&1 ||
        fail "systemd-analyze verify: $(cat "$WORK/verify")"
fi

cmake --install "$BUILD" --component sdk --prefix "$WORK/sdk" >/dev/null 2>&1 || fail "sdk install failed"
for file in include/platform/{Foundation,CastLite,DeviceServices}.h lib/liborvix_android.a \
            lib/liborvix_device_common.a lib/liborvix_host.a; do
    [ -f "$WORK/sdk/$file" ] || fail "the stand-in SDK has no $file"
done
[ -e "$WORK/dest/opt/orvix/include" ] && fail "a plain install carries the stand-in SDK"

[ "$failures" -eq 0 ] && echo "install: all as expected"
exit $((failures > 0))
