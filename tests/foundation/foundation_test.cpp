// The platform foundation on its own, where the daemon's tests do not reach: references that
// fail to promote or outlive their object, registrations and loopers that end while messages
// wait, threads, real sleeps, 32-bit durations and the binder pool's own threads.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/android/ALooper.h"
#include "platform/android/BinderPool.h"
#include "platform/android/Clock.h"
#include "platform/android/IPCThreadState.h"
#include "platform/android/ProcessState.h"
#include "tests/fakes/Wait.h"

namespace {

using namespace android;
using orvix::fakes::WaitFor;
using Ints = std::vector<int64_t>;

// The name ps and a crash report show.
std::string KernelName(pid_t tid) {
    std::string name;
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(tid) + "/comm"), name);
    return name;
}

// Counts first references, destructions and the strong count seen while dying.
struct Tracked : public RefBase {
    explicit Tracked(Ints* c, wp<Tracked>* s = nullptr) : counts(*c), self(s) {}
    ~Tracked() override {
        // Handing itself out while dying, as an object unregistering from a service does.
        if (self != nullptr) {
            counts[2] = getStrongCount();
            sp<Tracked> me = this;
            if (self->promote() != nullptr) counts[2] = -1;
        }
        counts[1]++;
    }
    void onFirstRef() override { counts[0]++; }
    Ints& counts;
    wp<Tracked>* self;
};

TEST(RefBase, TheLastStrongReferenceDestroysOnceAndWeakOnesThenFailToPromote) {
    Ints counts = {0, 0, -1};
    sp<Tracked> first = new Tracked(&counts);
    wp<Tracked> weak = first;
    RefBase::weakref_type* refs = first->getWeakRefs();
    first.clear();
    EXPECT_EQ(nullptr, weak.promote());
    EXPECT_EQ(0, refs->getWeakCount());  // the object's own and the failed promotion's let go
    EXPECT_EQ((Ints{1, 1, -1}), counts);

    // Never strongly held: its owner deletes it, or a promotion is its first strong reference.
    Tracked* owned = new Tracked(&counts);
    weak = owned;
    EXPECT_EQ(0, owned->getStrongCount());
    delete owned;
    EXPECT_EQ(nullptr, weak.promote());
    weak = new Tracked(&counts);
    EXPECT_EQ(1, weak.promote()->getStrongCount());
    {
        sp<Tracked> dying = new Tracked(&counts, &weak);
        weak = dying;
    }
    EXPECT_EQ((Ints{3, 4, 0}), counts);
}

TEST(Message, KnowsItsOwnNamesOnly) {
    sp<AMessage> msg = new AMessage(33, 4);
    msg->setInt32("usage-report", 1);
    EXPECT_TRUE(msg->contains("usage-report") && !msg->contains("usage"));
}

// Time moves when the test says so. A timed wait returns after a moment of real time, as a
// spurious wake-up may, and the loop reads the time again.
class StepClock : public Clock {
public:
    int64_t nowUs() override { return now; }
    void sleepUs(int64_t durationUs) override { now += durationUs; }
    void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t) override {
        cv.wait_for(lock, std::chrono::milliseconds(1));
    }
    std::atomic<int64_t> now{1'000'000'000};
};

class Recorder : public AHandler {
public:
    enum : uint32_t { kThrow = 100, kStop, kDropLooper };
    Ints whats() {
        std::lock_guard<std::mutex> guard(mLock);
        return mWhats;
    }
    std::atomic<pid_t> tid{0};
    sp<ALooper> held;

protected:
    void onMessageReceived(const sp<AMessage>& msg) override {
        std::lock_guard<std::mutex> guard(mLock);
        tid = gettid();
        mWhats.push_back(msg->what());
        if (msg->what() == kThrow) throw std::runtime_error("handler failure");
        if (msg->what() == kStop) looper()->stop();
        if (msg->what() == kDropLooper) held.clear();
    }

private:
    std::mutex mLock;
    Ints mWhats;
};

status_t Post(handler_id target, uint32_t what, int64_t delayUs = 0) {
    return (new AMessage(what, target))->post(delayUs);
}

class Looper : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemClock(&clock);
        looper->setName("CastControllerLooper");
        id = looper->registerHandler(handler);
    }
    void TearDown() override {
        looper.clear();
        SetSystemClock(nullptr);
    }
    bool Handled(size_t count) {
        return WaitFor([&] { return handler->whats().size() == count; });
    }

    StepClock clock;
    sp<ALooper> looper = new ALooper();
    sp<Recorder> handler = new Recorder();
    handler_id id = 0;
};

TEST_F(Looper, DueMessagesFirstEqualDueTimesInPostOrderOnANamedThreadOfItsOwn) {
    for (uint32_t what = 1; what <= 6; ++what) Post(id, what, what % 2 == 1 ? 1 : 0);
    Post(id, 7, INT64_MAX);
    ASSERT_EQ(OK, looper->start());
    ASSERT_TRUE(Handled(3));
    Post(id, 8);
    ASSERT_TRUE(Handled(4));
    clock.now += 1;
    Post(id, 9);
    ASSERT_TRUE(Handled(8));
    EXPECT_EQ((Ints{2, 4, 6, 8, 1, 3, 5, 9}), handler->whats());
    EXPECT_EQ("CastControllerL", KernelName(handler->tid));
}

// What was queued belongs to the registration it was posted to: not to the same handler back
// under a new id, nor to the target a message was given after its post.
TEST_F(Looper, RegistrationsEndWithTheirQueueAndWithTheirHandler) {
    ASSERT_EQ(OK, looper->start());
    EXPECT_EQ(INVALID_OPERATION, looper->registerHandler(nullptr));
    sp<Recorder> other = new Recorder();
    const handler_id oldId = looper->registerHandler(other);
    sp<AMessage> moved = new AMessage(1, oldId);
    moved->post(1'000);
    moved->setTarget(id);
    looper->unregisterHandler(oldId);
    EXPECT_EQ(NAME_NOT_FOUND, Post(oldId, 2));
    Post(looper->registerHandler(other), 3, 1'000);
    sp<Recorder> doomed = new Recorder();
    Post(looper->registerHandler(doomed), 4, 1'000);
    doomed.clear();
    clock.now += 1'000;
    Post(id, 5);
    ASSERT_TRUE(Handled(1));
    EXPECT_EQ(Ints{3}, other->whats());
}

TEST_F(Looper, SurvivesAThrowStopsAndRestartsAndDiesOnItsOwnThread) {
    EXPECT_EQ(INVALID_OPERATION, looper->stop());
    ASSERT_EQ(OK, looper->start());
    Post(id, Recorder::kThrow);
    Post(id, Recorder::kStop);
    ASSERT_TRUE(Handled(2));
    // Stopped from its own thread the loop only ends; this stop joins it and leaves 1 queued.
    Post(id, 1);
    EXPECT_EQ(OK, looper->stop());
    EXPECT_EQ(2u, handler->whats().size());
    ASSERT_EQ(OK, looper->start());
    // The last reference goes on the looper thread: what was posted behind goes with it.
    handler->held = looper;
    looper.clear();
    Post(id, Recorder::kDropLooper);
    ASSERT_TRUE(WaitFor([&] { return Post(id, 2) == NAME_NOT_FOUND; }));
    EXPECT_EQ((Ints{Recorder::kThrow, Recorder::kStop, 1, Recorder::kDropLooper}),
              handler->whats());
}

std::atomic<int> gLoopingDestroyed{0};

class Looping : public Thread {
public:
    ~Looping() override { ++gLoopingDestroyed; }
    bool pending() const { return exitPending(); }
    std::atomic<int> loops{3}, iterations{0};
    std::atomic<status_t> joinFromInside{OK};

private:
    bool threadLoop() override {
        joinFromInside = join();
        return ++iterations < loops || loops < 0;
    }
};

TEST(Thread, LoopsWhileAskedRunsAgainKeepsItsObjectAndIsNamedForTheKernel) {
    gLoopingDestroyed = 0;
    sp<Looping> thread = new Looping();
    ASSERT_EQ(OK, thread->run("Counter"));
    EXPECT_EQ(OK, thread->join());
    EXPECT_TRUE(thread->iterations == 3 && thread->joinFromInside == WOULD_BLOCK);
    EXPECT_TRUE(thread->pending() && !thread->isRunning() && thread->getTid() == -1);
    thread->loops = -1;
    ASSERT_EQ(OK, thread->run("Orvix_CastController"));
    const pid_t tid = thread->getTid();
    ASSERT_TRUE(tid > 0 && tid != gettid());
    EXPECT_TRUE(WaitFor([&] { return KernelName(tid) == "Orvix_CastContr"; }));
    EXPECT_EQ(INVALID_OPERATION, thread->run("Again"));
    Looping* running = thread.get();
    thread.clear();
    EXPECT_EQ(0, gLoopingDestroyed);
    running->requestExit();
    EXPECT_TRUE(WaitFor([&] { return gLoopingDestroyed == 1; }));
}

TEST(Clock, RealTimeIsMonotonicMicrosecondsAndASleepLastsThroughSignals) {
    using namespace std::chrono;
    const auto start = steady_clock::now();
    EXPECT_NEAR(duration_cast<microseconds>(start.time_since_epoch()).count(),
                SystemClock().nowUs(), 20'000);
    signal(SIGUSR2, [](int) {});
    std::atomic<bool> done{false};
    std::thread sleeper([&] {
        SleepUs(60'000);
        done = true;
    });
    // Interrupted again and again, it sleeps as long as asked: not less, not from the start.
    WaitFor([&] { return done || pthread_kill(sleeper.native_handle(), SIGUSR2) != 0; });
    sleeper.join();
    EXPECT_GE(steady_clock::now() - start, milliseconds(60));
    EXPECT_LT(steady_clock::now() - start, milliseconds(2'500));
}

// armhf's time_t has 32 bits: a "never" is held at its longest rather than wrapped into a short
// or invalid sleep.
TEST(Clock, DurationsSplitExactlyAndAreHeldWhereTimeTEnds) {
    const bool narrow = sizeof(time_t) < sizeof(int64_t);
    const int64_t rows[][3] = {
        {1'500'001, 1, 500'001'000},
        {int64_t{INT32_MAX} * 1'000'000 + 5, INT32_MAX, 5'000},
        {INT64_MAX, narrow ? INT32_MAX : 9'223'372'036'854, narrow ? 999'999'999 : 775'807'000}};
    for (const auto& [us, sec, nsec] : rows) {
        const timespec ts = DurationToTimespec(us);
        EXPECT_TRUE(ts.tv_sec == sec && ts.tv_nsec == nsec) << us;
    }
}

// Once the first piece of work is served the servers are idle: what follows has to wake them.
TEST(BinderPool, TwoThreadsAndAJoinedOneServeWorkUntilShutdown) {
    std::atomic<int> onPool{0};
    const auto count = [&] { onPool += BinderPool::OnPoolThread(); };
    sp<ProcessState> process = ProcessState::self();
    process->startThreadPool();
    process->startThreadPool();
    EXPECT_EQ(2u, process->poolThreadCount());
    std::thread joiner([] { IPCThreadState::self()->joinThreadPool(true); });
    BinderPool::Post(count);
    EXPECT_TRUE(WaitFor([&] { return onPool == 1; }));
    BinderPool::Post([] { throw std::runtime_error("bad transaction"); });
    for (int i = 0; i < 20; ++i) BinderPool::Post(count);
    EXPECT_TRUE(WaitFor([&] { return onPool == 21; }));
    BinderPool::Shutdown();
    joiner.join();
    EXPECT_TRUE(!BinderPool::OnPoolThread() && process->poolThreadCount() == 0);
}

}  // namespace
