#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/android/Clock.h"
#include "platform/android/Thread.h"
#include "tests/fakes/Wait.h"

namespace {

using android::sp;
using android::status_t;
using orvix::fakes::WaitFor;

class CountingThread : public android::Thread {
public:
    explicit CountingThread(std::atomic<int>* destroyed) : mDestroyed(destroyed) {}
    ~CountingThread() override { (*mDestroyed)++; }

    // A negative count loops until requestExit().
    std::atomic<int> loops{1};
    std::atomic<int> iterations{0};
    std::atomic<status_t> joinFromInside{android::OK};
    std::atomic<bool> hold{false};
    std::atomic<bool> looping{false};

private:
    bool threadLoop() override {
        looping = true;
        while (hold) std::this_thread::yield();
        joinFromInside = join();
        return ++iterations < loops || loops < 0;
    }

    std::atomic<int>* mDestroyed;
};

TEST(FoundationThread, LoopsWhileThreadLoopSaysSoEndsOnRequestAndRunsAgain) {
    std::atomic<int> destroyed{0};
    sp<CountingThread> thread = new CountingThread(&destroyed);
    thread->loops = 5;
    ASSERT_EQ(android::OK, thread->run("Counter"));
    EXPECT_EQ(android::OK, thread->join());
    EXPECT_EQ(5, thread->iterations);
    EXPECT_EQ(android::WOULD_BLOCK, thread->joinFromInside);
    EXPECT_FALSE(thread->isRunning());

    thread->loops = -1;
    ASSERT_EQ(android::OK, thread->run("Forever"));
    ASSERT_TRUE(WaitFor([&] { return thread->iterations > 10; }));
    EXPECT_EQ(android::INVALID_OPERATION, thread->run("Again"));
    thread->requestExit();
    EXPECT_EQ(android::OK, thread->join());
    EXPECT_FALSE(thread->isRunning());
    // The thread may still hold the last reference after join(): the counter must outlive it.
    thread.clear();
    EXPECT_TRUE(WaitFor([&] { return destroyed == 1; }));
}

TEST(FoundationThread, KernelSeesFifteenCharactersAndTheRunningThreadKeepsItsObject) {
    std::atomic<int> destroyed{0};
    sp<CountingThread> thread = new CountingThread(&destroyed);
    thread->hold = true;
    ASSERT_EQ(android::OK, thread->run("Orvix_CastController"));
    const pid_t tid = thread->getTid();
    ASSERT_GT(tid, 0);
    EXPECT_NE(gettid(), tid);
    ASSERT_TRUE(WaitFor([&] { return thread->looping.load(); }));
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string kernelName;
    std::getline(comm, kernelName);
    EXPECT_EQ("Orvix_CastContr", kernelName);
    EXPECT_EQ("Orvix_CastController", thread->name());

    CountingThread* raw = thread.get();
    thread.clear();
    EXPECT_EQ(0, destroyed);
    raw->hold = false;
    EXPECT_TRUE(WaitFor([&] { return destroyed == 1; }));
}

TEST(FoundationClock, RealSleepGoesOnAfterASignal) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    struct sigaction previous {};
    ASSERT_EQ(0, sigaction(SIGUSR2, &action, &previous));
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> done{false};
    std::thread sleeper([&] {
        android::SleepUs(60'000);
        done = true;
    });
    // Interrupted again and again, the sleep still lasts as long as it was asked to.
    WaitFor([&] { return done || pthread_kill(sleeper.native_handle(), SIGUSR2) != 0; });
    sleeper.join();
    sigaction(SIGUSR2, &previous, nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

}  // namespace
