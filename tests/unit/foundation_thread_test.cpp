#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/android/Clock.h"
#include "platform/android/Thread.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"

namespace {

using android::sp;
using android::status_t;
using orvix::fakes::ManualClock;
using orvix::fakes::WaitFor;

std::string KernelName(pid_t tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

class CountingThread : public android::Thread {
public:
    explicit CountingThread(int loops, std::atomic<int>* destroyed = nullptr)
        : mLoops(loops), mDestroyed(destroyed) {}
    ~CountingThread() override {
        if (mDestroyed) (*mDestroyed)++;
    }

    std::atomic<int> ready{0};
    std::atomic<int> iterations{0};
    std::atomic<status_t> joinFromInside{android::OK};
    std::atomic<pid_t> loopTid{0};
    bool joinSelf = false;

    // Holds threadLoop until release(), so that a test can look at a running thread.
    void release() {
        std::lock_guard<std::mutex> lock(mLock);
        mReleased = true;
        mCv.notify_all();
    }
    void holdFirstLoop() { mHold = true; }

private:
    status_t readyToRun() override {
        ready++;
        return android::OK;
    }
    bool threadLoop() override {
        loopTid = gettid();
        if (mHold) {
            std::unique_lock<std::mutex> lock(mLock);
            mCv.wait(lock, [this] { return mReleased; });
        }
        if (joinSelf) joinFromInside = join();
        // A negative count loops until requestExit().
        return ++iterations < mLoops || mLoops < 0;
    }

    const int mLoops;
    std::atomic<int>* mDestroyed;
    std::mutex mLock;
    std::condition_variable mCv;
    bool mReleased = false;
    std::atomic<bool> mHold{false};
};

TEST(FoundationThread, RunsThreadLoopUntilItReturnsFalse) {
    sp<CountingThread> thread = new CountingThread(5);
    thread->joinSelf = true;
    ASSERT_EQ(android::OK, thread->run("Counter"));
    EXPECT_EQ(android::OK, thread->join());
    EXPECT_EQ(1, thread->ready);
    EXPECT_EQ(5, thread->iterations);
    EXPECT_EQ(android::WOULD_BLOCK, thread->joinFromInside);
    EXPECT_FALSE(thread->isRunning());
    EXPECT_EQ(-1, thread->getTid());
}

TEST(FoundationThread, RequestExitEndsTheLoopAndTheThreadMayRunAgain) {
    sp<CountingThread> thread = new CountingThread(-1);
    ASSERT_EQ(android::OK, thread->run("Forever"));
    ASSERT_TRUE(WaitFor([&] { return thread->iterations > 3; }));
    EXPECT_EQ(android::INVALID_OPERATION, thread->run("Again"));
    thread->requestExit();
    EXPECT_EQ(android::OK, thread->join());
    EXPECT_FALSE(thread->isRunning());

    const int before = thread->iterations;
    ASSERT_EQ(android::OK, thread->run("Again"));
    ASSERT_TRUE(WaitFor([&] { return thread->iterations > before; }));
    thread->requestExit();
    thread->join();
    EXPECT_EQ(2, thread->ready);
    EXPECT_EQ("Again", thread->name());
}

TEST(FoundationThread, LongNameIsKeptWholeWhileTheKernelSeesFifteenCharacters) {
    sp<CountingThread> thread = new CountingThread(1);
    thread->holdFirstLoop();
    ASSERT_EQ(android::OK, thread->run("Orvix_CastController"));
    const pid_t tid = thread->getTid();
    ASSERT_GT(tid, 0);
    EXPECT_NE(gettid(), tid);
    ASSERT_TRUE(WaitFor([&] { return thread->loopTid == tid; }));
    EXPECT_EQ("Orvix_CastController", thread->name());
    EXPECT_EQ("Orvix_CastContr", KernelName(tid));
    EXPECT_TRUE(thread->isRunning());
    thread->release();
    thread->join();
}

TEST(FoundationThread, RunningThreadKeepsItsObjectAliveUntilItEnds) {
    std::atomic<int> destroyed{0};
    sp<CountingThread> thread = new CountingThread(1, &destroyed);
    thread->holdFirstLoop();
    ASSERT_EQ(android::OK, thread->run("Detached"));
    CountingThread* raw = thread.get();
    thread.clear();
    EXPECT_EQ(0, destroyed);
    raw->release();
    EXPECT_TRUE(WaitFor([&] { return destroyed == 1; }));
}

TEST(FoundationClock, RealSleepGoesOnAfterASignal) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(0, sigaction(SIGUSR2, &action, &previous));

    std::atomic<bool> done{false};
    std::atomic<int64_t> sleptUs{0};
    std::thread sleeper([&] {
        const auto start = std::chrono::steady_clock::now();
        android::SleepUs(60'000);
        sleptUs = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        done = true;
    });
    // Interrupt the sleep a few times; without the resume it would end early.
    WaitFor([&] {
        if (!done) pthread_kill(sleeper.native_handle(), SIGUSR2);
        return done.load();
    });
    sleeper.join();
    sigaction(SIGUSR2, &previous, nullptr);
    EXPECT_GE(sleptUs, 60'000);
}

TEST(FoundationClock, ManualClockReleasesSleepersOnlyWhenTimeIsAdvanced) {
    ManualClock clock;
    android::SetSystemClock(&clock);
    EXPECT_EQ(ManualClock::kStartUs, android::SystemClock().nowUs());

    std::atomic<bool> woke{false};
    std::thread sleeper([&] {
        android::SleepUs(3'000'000);
        woke = true;
    });
    ASSERT_TRUE(clock.waitForSleepers(1, std::chrono::seconds(5)));
    EXPECT_EQ(std::vector<int64_t>{3'000'000}, clock.pendingSleeps());
    clock.advance(2'999'999);
    // Still blocked: the sleeper is still counted as one after the wake-up it was given.
    EXPECT_TRUE(clock.waitForSleepers(1, std::chrono::seconds(5)));
    EXPECT_FALSE(woke);
    clock.advance(1);
    sleeper.join();
    EXPECT_TRUE(woke);
    EXPECT_TRUE(clock.pendingSleeps().empty());
    EXPECT_FALSE(clock.waitForSleepers(1, std::chrono::milliseconds(1)));

    clock.setAutoAdvance(true);
    android::SleepUs(1'000'000);
    android::SleepUs(500'000);
    EXPECT_EQ(ManualClock::kStartUs + 4'500'000, android::SystemClock().nowUs());
    EXPECT_EQ((std::vector<int64_t>{3'000'000, 1'000'000, 500'000}), clock.sleeps());

    android::SetSystemClock(nullptr);
    EXPECT_NE(&clock, &android::SystemClock());
}

}  // namespace
