#!/usr/bin/env bash
# The include-boundary check (the build runs it on the daemon) passes a tree of allowed
# includes and refuses, naming the file and line, every way a source could reach past the
# platform's umbrellas.
set -uo pipefail
CHECK="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/check-includes.sh"
TREE="$(mktemp -d)"
trap 'rm -rf "$TREE"' EXIT
failures=0
mkdir -p "$TREE"/{core,requests,cast,device,platform}
touch "$TREE"/platform/{Foundation,CastLite,DeviceServices}.h
printf '#pragma once\n#include "platform/Foundation.h"\n' >"$TREE/core/Good.h"
printf '#include %s\n' '"core/Good.h"' '"platform/CastLite.h"' '<json/json.h>' '<curl/curl.h>' \
    '<sys/stat.h>' '<string>' >"$TREE/device/Good.cpp"
out=$("$CHECK" "$TREE" 2>&1) || { echo "FAIL: allowed includes refused: $out"; failures=1; }
while IFS='|' read -r file line; do
    printf '// first line\n%s\n' "$line" >"$TREE/$file"
    if out=$("$CHECK" "$TREE" 2>&1) || [[ "$out" != *"$file:2:"* ]]; then
        echo "FAIL: $file with '$line' is not refused at its line: $out"
        failures=$((failures + 1))
    fi
    rm -f "$TREE/$file"
done <<'CASES'
core/Bad.cpp|#include "platform/host/Connection.h"
requests/Bad.cpp|#include "sim/model/World.h"
device/Bad.cpp|#include "tests/fakes/FakeWorld.h"
core/Bad.cpp|#include "../platform/host/Connection.h"
core/Bad.cpp|#include <platform/host/Connection.h>
core/Bad.cpp|  #  include "platform/device/VEMOHelper.h"
core/Bad.cpp|#include "core/NotThere.h"
core/Bad.cpp|#include PLATFORM_HEADER
core/Bad.cpp|#include <utils/RefBase.h>
CASES
exit $((failures > 0))
