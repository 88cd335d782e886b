#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/android/AHandler.h"
#include "platform/android/AHandlerReflector.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"
#include "platform/android/Clock.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"

namespace {

using android::AHandler;
using android::ALooper;
using android::AMessage;
using android::sp;
using android::wp;
using orvix::fakes::ManualClock;
using orvix::fakes::WaitFor;

struct Record {
    uint32_t what;
    int32_t thread;
    int32_t seq;
    pid_t tid;
};

class RecordingHandler : public AHandler {
public:
    explicit RecordingHandler(std::atomic<int>* destroyed = nullptr) : mDestroyed(destroyed) {}
    ~RecordingHandler() override {
        if (mDestroyed) (*mDestroyed)++;
    }

    std::vector<Record> records() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mRecords;
    }
    std::vector<uint32_t> whats() const {
        std::vector<uint32_t> out;
        for (const Record& r : records()) out.push_back(r.what);
        return out;
    }
    size_t count() const { return records().size(); }

    // Codes with a behaviour of their own.
    static constexpr uint32_t kThrow = 900;
    static constexpr uint32_t kRepost = 901;
    static constexpr uint32_t kStopLooper = 902;
    static constexpr uint32_t kDropLooper = 903;

    sp<ALooper> heldLooper;

protected:
    void onMessageReceived(const sp<AMessage>& msg) override {
        Record record{msg->what(), -1, -1, gettid()};
        msg->findInt32("thread", &record.thread);
        msg->findInt32("seq", &record.seq);
        {
            std::lock_guard<std::mutex> lock(mLock);
            mRecords.push_back(record);
        }
        switch (msg->what()) {
            case kThrow:
                throw std::runtime_error("handler failure");
            case kRepost: {
                // Posting from inside a handler must not deadlock on the looper.
                sp<AMessage> again = new AMessage(1, id());
                again->post(1'000'000);
                break;
            }
            case kStopLooper:
                looper()->stop();
                break;
            case kDropLooper:
                heldLooper.clear();
                break;
            default:
                break;
        }
    }

private:
    mutable std::mutex mLock;
    std::vector<Record> mRecords;
    std::atomic<int>* mDestroyed;
};

android::status_t Post(const sp<AHandler>& handler, uint32_t what, int64_t delayUs = 0) {
    sp<AMessage> msg = new AMessage(what, handler->id());
    return msg->post(delayUs);
}

std::string KernelName(pid_t tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

class FoundationLooper : public ::testing::Test {
protected:
    void useManualClock() { android::SetSystemClock(&clock); }
    void TearDown() override { android::SetSystemClock(nullptr); }

    ManualClock clock;
};

TEST_F(FoundationLooper, DelayedMessagesRunWhenTheirTimeComesAfterDueOnes) {
    useManualClock();
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> handler = new RecordingHandler();
    looper->registerHandler(handler);
    looper->setName("Looper_CastController");
    ASSERT_EQ(android::OK, looper->start(false, false, 0));
    EXPECT_EQ(android::INVALID_OPERATION, looper->start());

    EXPECT_EQ(android::OK, Post(handler, 10, 1'000'000));
    EXPECT_EQ(android::OK, Post(handler, 11, 500'000));
    EXPECT_EQ(android::OK, Post(handler, 12));
    EXPECT_EQ(android::OK, Post(handler, 13));
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 2; }));
    EXPECT_EQ((std::vector<uint32_t>{12, 13}), handler->whats());

    clock.advance(499'999);
    Post(handler, 14);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 3; }));
    EXPECT_EQ(14u, handler->whats().back());

    clock.advance(1);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 4; }));
    // A handler that posts again, as the multi-room delay does, gets its message a second on.
    Post(handler, RecordingHandler::kRepost);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 5; }));
    clock.advance(500'000);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 6; }));
    Post(handler, 15);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 7; }));
    clock.advance(500'000);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 8; }));
    EXPECT_EQ((std::vector<uint32_t>{12, 13, 14, 11, RecordingHandler::kRepost, 10, 15, 1}),
              handler->whats());

    const std::vector<Record> records = handler->records();
    EXPECT_NE(gettid(), records.front().tid);
    for (const Record& r : records) EXPECT_EQ(records.front().tid, r.tid);
    EXPECT_EQ("Looper_CastCont", KernelName(records.front().tid));
    EXPECT_STREQ("Looper_CastController", looper->getName());
    EXPECT_EQ(clock.nowUs(), ALooper::GetNowUs());
    EXPECT_EQ(android::OK, looper->stop());
}

TEST_F(FoundationLooper, EqualDueTimesRunInPostOrder) {
    useManualClock();
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> handler = new RecordingHandler();
    looper->registerHandler(handler);
    // Queued before the start, with time standing still: every due time is the same.
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 50; ++i) {
        Post(handler, 100 + i, i % 2 == 0 ? 0 : 2'000);
        if (i % 2 == 0) expected.push_back(100 + i);
    }
    for (uint32_t i = 0; i < 50; ++i) {
        if (i % 2 == 1) expected.push_back(100 + i);
    }
    looper->start();
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 25; }));
    clock.advance(2'000);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 50; }));
    EXPECT_EQ(expected, handler->whats());
}

TEST_F(FoundationLooper, PostsFromManyThreadsAreAllHandledInEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPosts = 500;
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> handler = new RecordingHandler();
    looper->registerHandler(handler);
    looper->start();
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                sp<AMessage> msg = new AMessage(7, handler->id());
                msg->setInt32("thread", t);
                msg->setInt32("seq", i);
                EXPECT_EQ(android::OK, msg->post());
            }
        });
    }
    for (std::thread& poster : posters) poster.join();
    ASSERT_TRUE(WaitFor([&] { return handler->count() == kThreads * kPosts; }));
    std::vector<int> next(kThreads, 0);
    for (const Record& r : handler->records()) {
        ASSERT_GE(r.thread, 0);
        ASSERT_LT(r.thread, kThreads);
        EXPECT_EQ(next[r.thread], r.seq);
        next[r.thread] = r.seq + 1;
    }
    for (int n : next) EXPECT_EQ(kPosts, n);
}

TEST_F(FoundationLooper, MessagesForAGoneHandlerAreDroppedSilently) {
    useManualClock();
    std::atomic<int> destroyed{0};
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> doomed = new RecordingHandler(&destroyed);
    sp<RecordingHandler> witness = new RecordingHandler();
    looper->registerHandler(doomed);
    looper->registerHandler(witness);
    looper->start();

    const android::handler_id doomedId = doomed->id();
    ASSERT_EQ(android::OK, Post(doomed, 1, 1'000));
    doomed.clear();
    EXPECT_EQ(1, destroyed);
    clock.advance(1'000);
    Post(witness, 2, 1'000);
    clock.advance(1'000);
    ASSERT_TRUE(WaitFor([&] { return witness->count() == 1; }));

    EXPECT_EQ(android::NAME_NOT_FOUND, (new AMessage(1, doomedId))->post());
    EXPECT_EQ(android::NAME_NOT_FOUND, (new AMessage(1, 0))->post());
    EXPECT_EQ(android::NAME_NOT_FOUND, (new AMessage(1, 0x7fffffff))->post());

    // The controller's adaptor: a message for an object that is gone is dropped too.
    struct Target : public android::RefBase {
        explicit Target(std::atomic<int>* received) : mReceived(received) {}
        void onMessageReceived(const sp<AMessage>&) { (*mReceived)++; }
        std::atomic<int>* mReceived;
    };
    std::atomic<int> received{0};
    sp<Target> target = new Target(&received);
    sp<android::AHandlerReflector<Target>> reflector =
        new android::AHandlerReflector<Target>(target.get());
    looper->registerHandler(reflector);
    Post(reflector, 3);
    ASSERT_TRUE(WaitFor([&] { return received == 1; }));
    wp<Target> weakTarget = target;
    target.clear();
    EXPECT_EQ(nullptr, weakTarget.promote());
    EXPECT_EQ(android::OK, Post(reflector, 4));
    Post(witness, 5);
    ASSERT_TRUE(WaitFor([&] { return witness->count() == 2; }));
    EXPECT_EQ(1, received);
}

TEST_F(FoundationLooper, HandlerIdsArePositiveIncreasingAndGivenOnce) {
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> a = new RecordingHandler();
    sp<RecordingHandler> b = new RecordingHandler();
    sp<RecordingHandler> c = new RecordingHandler();
    EXPECT_EQ(0, a->id());
    const android::handler_id idA = looper->registerHandler(a);
    const android::handler_id idB = looper->registerHandler(b);
    sp<ALooper> other = new ALooper();
    const android::handler_id idC = other->registerHandler(c);
    EXPECT_GT(idA, 0);
    EXPECT_GT(idB, idA);
    EXPECT_GT(idC, idB);
    EXPECT_EQ(idA, a->id());
    EXPECT_EQ(looper, a->looper());
    EXPECT_EQ(other, c->looper());
    EXPECT_EQ(android::INVALID_OPERATION, looper->registerHandler(a));
    EXPECT_EQ(android::INVALID_OPERATION, looper->registerHandler(nullptr));

    looper->unregisterHandler(idB);
    EXPECT_EQ(0, b->id());
    EXPECT_EQ(nullptr, b->looper());
    EXPECT_EQ(android::NAME_NOT_FOUND, (new AMessage(1, idB))->post());
    EXPECT_GT(looper->registerHandler(b), idC);

    // A looper that is gone takes its registrations with it.
    other.clear();
    EXPECT_EQ(nullptr, c->looper());
    EXPECT_EQ(android::NAME_NOT_FOUND, Post(c, 1));
}

TEST_F(FoundationLooper, SurvivesThrowingHandlersAndStopsFromAnyThread) {
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> handler = new RecordingHandler();
    looper->registerHandler(handler);
    looper->start();
    Post(handler, RecordingHandler::kThrow);
    Post(handler, 1);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 2; }));

    // Asked from the looper thread the stop only takes effect; the later stop() joins.
    Post(handler, RecordingHandler::kStopLooper);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 3; }));
    Post(handler, 2);
    EXPECT_EQ(android::OK, looper->stop());
    EXPECT_EQ(3u, handler->count());
    EXPECT_EQ(android::INVALID_OPERATION, looper->stop());
    // The queued message waits for the next start.
    looper->start();
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 4; }));

    // Run on the calling thread until a handler stops it.
    looper->stop();
    Post(handler, 3);
    Post(handler, RecordingHandler::kStopLooper);
    EXPECT_EQ(android::OK, looper->start(true));
    ASSERT_EQ(6u, handler->count());
    EXPECT_EQ(gettid(), handler->records().back().tid);
}

TEST_F(FoundationLooper, LooperMayBeDestroyedWithQueuedMessagesOrFromItsOwnThread) {
    useManualClock();
    sp<RecordingHandler> handler = new RecordingHandler();
    {
        sp<ALooper> looper = new ALooper();
        looper->registerHandler(handler);
        looper->start();
        Post(handler, 1, 5'000'000);
    }
    EXPECT_EQ(android::NAME_NOT_FOUND, Post(handler, 2));
    EXPECT_EQ(0u, handler->count());

    sp<RecordingHandler> owner = new RecordingHandler();
    {
        sp<ALooper> looper = new ALooper();
        looper->registerHandler(owner);
        looper->start();
        owner->heldLooper = looper;
    }
    // The handler drops the last reference on the looper thread itself.
    Post(owner, RecordingHandler::kDropLooper);
    ASSERT_TRUE(WaitFor([&] { return owner->count() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return Post(owner, 3) == android::NAME_NOT_FOUND; }));
}

}  // namespace
