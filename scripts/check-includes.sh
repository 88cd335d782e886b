#!/usr/bin/env bash
# check-includes.sh [ROOT]
# The daemon reaches the platform only through its three umbrella headers, so a device build
# can point those at the vendor's headers and nothing above the seam changes. This fails (exit
# 1, one line per offending include) when a daemon source includes anything else of the
# platform, or anything of the host clients, the simulator or the tests. Library headers are
# listed by name: a new dependency of the daemon is a decision for the seam, not a side effect.
set -euo pipefail
ROOT="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
DAEMON_DIRS=(core requests cast device)
UMBRELLAS='platform/(Foundation|CastLite|DeviceServices)\.h'
OWN='(core|requests|cast|device)/[A-Za-z0-9_]+\.h'
# The C and C++ standard headers and the system, jsoncpp and libcurl headers the daemon uses.
LIBRARY='[a-z_0-9]+(\.h)?|sys/[a-z_0-9]+\.h|json/[a-z_]+\.h|curl/[a-z_]+\.h'

status=0
checked=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    number=0
    while IFS= read -r line || [ -n "$line" ]; do
        number=$((number + 1))
        [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include ]] || continue
        if [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]*)\" ]]; then
            header="${BASH_REMATCH[1]}"
            [[ "$header" =~ ^($UMBRELLAS|$OWN)$ ]] && [ -f "$ROOT/$header" ] && continue
        elif [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]*)\> ]]; then
            header="${BASH_REMATCH[1]}"
            [[ "$header" =~ ^($LIBRARY)$ ]] && continue
        fi
        echo "${file#"$ROOT"/}:$number: the daemon includes only its own headers, the platform's" \
             "umbrellas and known library headers: ${line#"${line%%[![:space:]]*}"}" >&2
        status=1
    done <"$file"
done < <(cd "$ROOT" && find "${DAEMON_DIRS[@]/#/$ROOT/}" -type f \
             \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)

if [ "$checked" -eq 0 ]; then
    echo "check-includes: no daemon sources under $ROOT" >&2
    exit 1
fi
exit "$status"
