#!/usr/bin/env bash
# The include-boundary check passes the daemon as it is and fails, naming the file and line,
# on every way a daemon source could reach past the platform's umbrellas.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
CHECK="$ROOT/scripts/check-includes.sh"
TREE="$(mktemp -d)"
trap 'rm -rf "$TREE"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

"$CHECK" "$ROOT" || fail "the daemon's own sources do not pass"

mkdir -p "$TREE"/{core,requests,cast,device,platform}
touch "$TREE"/platform/{Foundation,CastLite,DeviceServices}.h
cat >"$TREE/core/Good.h" <<'SRC'
#pragma once
#include "platform/Foundation.h"
SRC
cat >"$TREE/device/Good.cpp" <<'SRC'
#include "core/Good.h"
#include "platform/CastLite.h"
#include "platform/DeviceServices.h"
#include <json/json.h>
#include <curl/curl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <string>
  #  include <mutex>
SRC
out=$("$CHECK" "$TREE" 2>&1) || fail "a tree of allowed includes is refused: $out"

# expect_refused FILE INCLUDE-LINE
expect_refused() {
    local file="$1" line="$2" out
    printf '// first line\n%s\n' "$line" >"$TREE/$file"
    if out=$("$CHECK" "$TREE" 2>&1); then
        fail "$file with '$line' passes"
    elif [[ "$out" != *"$file:2:"* ]]; then
        fail "$file with '$line': the refusal does not name the file and line: $out"
    fi
    rm -f "$TREE/$file"
}
expect_refused core/Bad.cpp '#include "platform/host/Connection.h"'
expect_refused core/Bad.cpp '#include "platform/android/ALooper.h"'
expect_refused requests/Bad.cpp '#include "sim/model/World.h"'
expect_refused device/Bad.cpp '#include "tests/fakes/FakeWorld.h"'
expect_refused core/Bad.cpp '#include "../platform/host/Connection.h"'
expect_refused core/Bad.cpp '#include <platform/host/Connection.h>'
expect_refused core/Bad.cpp '  #  include "platform/device/VEMOHelper.h"'
expect_refused core/Bad.cpp '#include "core/NotThere.h"'
expect_refused core/Bad.cpp '#include PLATFORM_HEADER'
expect_refused core/Bad.cpp '#include <utils/RefBase.h>'

[ "$failures" -eq 0 ] && echo "include boundary: all cases as expected"
exit $((failures > 0))
