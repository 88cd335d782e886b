// The one way tests wait for something another thread does: poll a condition with a
// real-time deadline instead of sleeping a guessed time.
#pragma once

#include <chrono>
#include <thread>

namespace orvix::fakes {

template <class P>
bool WaitFor(P pred, std::chrono::milliseconds timeout = std::chrono::seconds(5),
             std::chrono::milliseconds every = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(every);
    }
}

}  // namespace orvix::fakes
