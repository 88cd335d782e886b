// The one clock of the process. Every sleep and timed wait of the daemon, and every delayed
// looper post, goes through it, so tests can replace real time with time they drive.
#pragma once

#include <time.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace android {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds.
    virtual int64_t nowUs() = 0;
    // Sleeps for the whole duration; an interrupted sleep goes on with the time left.
    virtual void sleepUs(int64_t durationUs) = 0;
    // Waits on cv (lock held) until notified or until nowUs() reaches deadlineUs.
    // Spurious returns are allowed; callers re-check their condition.
    virtual void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                           int64_t deadlineUs) = 0;
};

// The process's clock: real monotonic time unless a test installed another.
Clock& SystemClock();
// Installs clock (nullptr restores real time). The clock must outlive every user.
void SetSystemClock(Clock* clock);

// A duration (not negative) as a timespec. Debian's armhf time_t has 32 bits: durations
// beyond its 68 years are held at the longest it can say instead of wrapping, which would
// turn a "never" into an invalid or short sleep.
timespec DurationToTimespec(int64_t durationUs);

// Convenience for the daemon: sleep through the process clock.
inline void SleepUs(int64_t durationUs) {
    SystemClock().sleepUs(durationUs);
}

}  // namespace android
