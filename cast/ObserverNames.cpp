#include "cast/ObserverNames.h"

namespace {

// Values outside a table come from a receiver newer than this daemon; they are logged as
// "UNKNOWN" rather than guessed at, and handled like the nearest rule says (not by name).
const char* Lookup(const char* const* names, int32_t count, int32_t value) {
    if (value < 0 || value >= count) return "UNKNOWN";
    return names[value];
}

}  // namespace

const char* PlayerStateName(int32_t state) {
    static const char* const kNames[] = {"INVALID", "IDLE", "PLAYING", "PAUSED", "BUFFERING"};
    return Lookup(kNames, 5, state);
}

const char* IdleReasonName(int32_t reason) {
    static const char* const kNames[] = {"CANCELLED", "INTERRUPTED", "FINISHED", "ERROR",
                                         "NO_STATUS"};
    return Lookup(kNames, 5, reason);
}

const char* StreamTypeName(int32_t type) {
    static const char* const kNames[] = {"NONE", "BUFFERED", "LIVE"};
    return Lookup(kNames, 3, type);
}
