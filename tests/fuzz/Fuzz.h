// What every fuzz target shares: one controller over the fakes for the whole run, put back to
// a fresh controller's state before each input, and the check that reports a broken property
// as a crash (libFuzzer keeps the input that did it).
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

// Built on first use and never destroyed: daemon threads may log or post until the exit hook,
// registered after the fakes' own so that it runs before theirs, has taken it apart.
inline Daemon& FuzzDaemon() {
    static Daemon* const daemon = [] {
        auto* made = new Daemon();
        FUZZ_CHECK(made->start(), "the controller did not start over the fakes");
        std::atexit([] { FuzzDaemon().stop(); });
        return made;
    }();
    return *daemon;
}

// A fresh world and the looper-thread state one input leaves for the next forgotten; the
// looper is idle here.
inline Daemon& NextInput() {
    Daemon& d = FuzzDaemon();
    FUZZ_CHECK(d.deliver(), "the looper did not get through its messages in 5 s");
    d.world().reset();
    d.log.clear();
    CastControllerPeer::pending(d.controller()).clear();
    CastControllerPeer::timezoneRequestId(d.controller()) = -1;
    CastControllerPeer::timezone(d.controller()).clear();
    return d;
}

}  // namespace orvix::test
