#!/usr/bin/env bash
# Runs the benchmarks of a Release build folder (./dev bench builds it), prints one table and
# writes docs/PERFORMANCE.md. Each program prints its figures as "row|figure|value|floor|
# ratio|goal|met" lines and, for the write-up, "detail|..." lines; the rest of its output goes
# to BUILD/bench-logs/.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:?usage: scripts/bench.sh BUILD_DIR}"
BUILD="$(cd "$BUILD" && pwd)"
LOGS="$BUILD/bench-logs"
DOC="$ROOT/docs/PERFORMANCE.md"
mkdir -p "$LOGS"
: >"$LOGS/rows" && : >"$LOGS/details"

# run NAME COMMAND...: the rows and details of one program, its whole output in LOGS/NAME.log.
run() {
    local name="$1"
    shift
    echo "bench: $name" >&2
    local status=0
    # A program that hangs (a daemon deaf to SIGTERM, say) must not hold the whole run: each
    # normally ends within two minutes.
    (cd / && timeout --kill-after=10 180 "$@") >"$LOGS/$name.log" 2>&1 || status=$?
    grep '^row|' "$LOGS/$name.log" | cut -d'|' -f2- >>"$LOGS/rows" || true
    grep '^detail|' "$LOGS/$name.log" | cut -d'|' -f2- >>"$LOGS/details" || true
    if [ "$status" -ne 0 ]; then
        echo "bench: $name ended with status $status; its figures are missing (log:" \
             "$LOGS/$name.log)" >&2
        tail -n 5 "$LOGS/$name.log" >&2
    fi
}

START=$SECONDS
run looper "$BUILD/bench/bench_looper"
run requests "$BUILD/bench/bench_requests"
run e2e "$ROOT/scripts/in-sandbox.sh" --bind "$ROOT" "$ROOT" --bind "$BUILD" "$BUILD" \
    "$BUILD/bench/bench_e2e"

strip -o "$LOGS/orvixcast.stripped" "$BUILD/orvixcast"
SIZE=$(stat -c %s "$LOGS/orvixcast.stripped")
PREVIOUS=""
if [ -f "$DOC" ]; then
    PREVIOUS=$(sed -n 's/^| stripped size of `orvixcast` (bytes) | \([0-9]*\) .*/\1/p' "$DOC" | head -n 1)
fi
GROWTH="first measurement"
[ -n "$PREVIOUS" ] && GROWTH="$((SIZE - PREVIOUS)) bytes against the last write-up ($PREVIOUS)"
echo "stripped size of \`orvixcast\` (bytes)|$SIZE|-|-|report; no growth without a reason|$GROWTH" \
    >>"$LOGS/rows"

echo
awk -F'|' 'BEGIN { split("figure|value|floor|ratio|goal|met?", head, "|") }
    { for (i = 1; i <= 6; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
    END {
        for (i = 1; i <= 6; i++) if (length(head[i]) > w[i]) w[i] = length(head[i])
        for (i = 1; i <= 6; i++) printf "%-*s  ", w[i], head[i]; print ""
        for (r = 1; r <= NR; r++) {
            for (i = 1; i <= 6; i++) printf "%-*s  ", w[i], cell[r, i]; print ""
        }
    }' "$LOGS/rows"
echo

"$ROOT/scripts/bench-doc.sh" "$BUILD" "$LOGS" >"$DOC.tmp"
mv "$DOC.tmp" "$DOC"
echo "bench: wrote ${DOC#"$ROOT"/} in $((SECONDS - START)) s (logs in ${LOGS#"$ROOT"/})"
