// A clock that moves only when a test says so, for the daemon's sleeps and timed waits and
// for delayed looper posts. Install with android::SetSystemClock(&clock) and restore nullptr
// before the clock goes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "platform/android/Clock.h"

namespace orvix::fakes {

class ManualClock : public android::Clock {
public:
    int64_t nowUs() override;
    // Records the duration, then blocks until advance() has moved time past it; in
    // auto-advance mode moves time itself and returns at once.
    void sleepUs(int64_t durationUs) override;
    // Returns when cv is notified, when virtual time reaches the deadline, or after a short
    // real-time back-stop (a spurious return, which every caller allows for).
    void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t deadlineUs) override;

    // Moves time forward and wakes every sleeper and every timed waiter.
    void advance(int64_t durationUs);
    void setAutoAdvance(bool on);

    // Every sleep asked for, in order.
    std::vector<int64_t> sleeps() const;

private:
    void wakeAll();

    mutable std::mutex mLock;
    // Sleepers wait here; notified on every change of time.
    std::condition_variable mChanged;
    int64_t mNowUs = 1'000'000'000;
    bool mAutoAdvance = false;
    std::vector<int64_t> mSleeps;
    // The condition variables of the threads in waitUntil, notified by every advance.
    std::multiset<std::condition_variable*> mWaiters;
};

}  // namespace orvix::fakes
