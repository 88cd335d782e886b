#include "platform/android/Clock.h"

#include <errno.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <limits>

namespace android {

namespace {

class MonotonicClock : public Clock {
public:
    int64_t nowUs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    }

    void sleepUs(int64_t durationUs) override {
        if (durationUs <= 0) return;
        timespec request = DurationToTimespec(durationUs);
        timespec remaining{};
        while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
            request = remaining;
        }
    }

    void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t deadlineUs) override {
        const int64_t now = nowUs();
        if (deadlineUs <= now) return;
        // steady_clock is CLOCK_MONOTONIC here, so the deadline converts by its distance.
        // Distances beyond any real wait are treated as "no deadline" to stay clear of
        // overflow in the time_point arithmetic.
        constexpr int64_t kForeverUs = int64_t{1} << 50;
        const int64_t remainingUs = deadlineUs - now;
        if (remainingUs >= kForeverUs) {
            cv.wait(lock);
            return;
        }
        cv.wait_until(lock,
                      std::chrono::steady_clock::now() + std::chrono::microseconds(remainingUs));
    }
};

// Never destroyed: threads that outlive static destruction may still ask for the time.
MonotonicClock& RealClock() {
    static MonotonicClock* const clock = new MonotonicClock();
    return *clock;
}

std::atomic<Clock*> gInstalledClock{nullptr};

}  // namespace

timespec DurationToTimespec(int64_t durationUs) {
    constexpr time_t kMaxSeconds = std::numeric_limits<time_t>::max();
    const int64_t seconds = durationUs / 1000000;
    if (seconds > static_cast<int64_t>(kMaxSeconds)) {
        return timespec{kMaxSeconds, 999999999};
    }
    return timespec{static_cast<time_t>(seconds), static_cast<long>((durationUs % 1000000) * 1000)};
}

Clock& SystemClock() {
    Clock* const installed = gInstalledClock.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : RealClock();
}

void SetSystemClock(Clock* clock) {
    gInstalledClock.store(clock, std::memory_order_release);
}

}  // namespace android
