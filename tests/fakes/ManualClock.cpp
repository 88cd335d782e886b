#include "tests/fakes/ManualClock.h"

#include <chrono>

namespace orvix::fakes {

namespace {
constexpr std::chrono::milliseconds kBackstop{2};
}  // namespace

int64_t ManualClock::nowUs() {
    std::lock_guard<std::mutex> lock(mLock);
    return mNowUs;
}

void ManualClock::sleepUs(int64_t durationUs) {
    std::unique_lock<std::mutex> lock(mLock);
    mSleeps.push_back(durationUs);
    if (mAutoAdvance) {
        if (durationUs > 0) mNowUs += durationUs;
        wakeAll();
        return;
    }
    const int64_t wakeUs = mNowUs + durationUs;
    mChanged.wait(lock, [&] { return mNowUs >= wakeUs; });
}

void ManualClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                            int64_t deadlineUs) {
    std::multiset<std::condition_variable*>::iterator registered;
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mNowUs >= deadlineUs) return;
        registered = mWaiters.insert(&cv);
    }
    // One wait, then back to the caller, who checks its condition and the deadline again.
    // wait_for judges by the clock after waking, so a notification that wakes a thread late
    // reads as a timeout: looping here on that verdict would lose it.
    cv.wait_for(lock, kBackstop);
    std::lock_guard<std::mutex> guard(mLock);
    mWaiters.erase(registered);
}

void ManualClock::advance(int64_t durationUs) {
    std::lock_guard<std::mutex> lock(mLock);
    if (durationUs > 0) mNowUs += durationUs;
    wakeAll();
}

void ManualClock::setAutoAdvance(bool on) {
    std::lock_guard<std::mutex> lock(mLock);
    mAutoAdvance = on;
    // Sleepers already blocked are not released by the switch; advance() still does that.
}

std::vector<int64_t> ManualClock::sleeps() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mSleeps;
}

void ManualClock::wakeAll() {
    mChanged.notify_all();
    // A waiter's condition variable lives while it is registered: the waiter removes it under
    // mLock, which is held here.
    for (std::condition_variable* cv : mWaiters) cv->notify_all();
}

}  // namespace orvix::fakes
