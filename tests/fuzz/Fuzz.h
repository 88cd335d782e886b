// What every fuzz target shares: the program's one controller, put back to a fresh
// controller's state before each input, and the check that reports a broken property as a
// crash (libFuzzer keeps the input that did it).
#pragma once

#include <cstdio>
#include <cstdlib>

#include "tests/support/Daemon.h"

#define FUZZ_CHECK(condition, ...)                                                             \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                                 \
            std::fputc('\n', stderr);                                                          \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace orvix::test {

// A fresh world and the looper-thread state one input leaves for the next forgotten; the
// looper is idle here.
inline Daemon& NextInput() {
    Daemon& d = SharedDaemon();
    FUZZ_CHECK(d.deliver(), "the looper did not get through its messages in 5 s");
    d.world().reset();
    d.log.clear();
    CastControllerPeer::pending(d.controller()).clear();
    CastControllerPeer::timezoneRequestId(d.controller()) = -1;
    CastControllerPeer::timezone(d.controller()).clear();
    return d;
}

// The daemon writes only the two consent settings, and only as "true" or "false".
inline void CheckConsentWrites(const Lines& writes) {
    static const std::set<std::string> kAllowed = {"GoogleCastTOS=true", "GoogleCastTOS=false",
                                                   "GoogleCastUsageReport=true",
                                                   "GoogleCastUsageReport=false"};
    for (const std::string& w : writes) FUZZ_CHECK(kAllowed.count(w), "wrote %s", w.c_str());
}

}  // namespace orvix::test
