#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/android/AHandler.h"
#include "platform/android/AHandlerReflector.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"
#include "platform/android/AString.h"
#include "platform/android/Clock.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"

namespace {

using android::AHandler;
using android::ALooper;
using android::AMessage;
using android::AString;
using android::sp;
using orvix::fakes::ManualClock;
using orvix::fakes::WaitFor;

TEST(FoundationMessage, FieldsKeepFirstSetOrderAndFindOnlyTheirOwnType) {
    sp<AMessage> msg = new AMessage(33, 4);
    msg->setInt32("usage-report", 1);
    msg->setString("cast-name", "Kitchen");
    msg->setDouble("total-duration", 12.5);
    // Setting a name again, even with another type, keeps its place.
    msg->setString("usage-report", "yes");
    msg->setInt32("cast-name", 7);

    const std::pair<const char*, AMessage::Type> fields[] = {
        {"usage-report", AMessage::kTypeString},
        {"cast-name", AMessage::kTypeInt32},
        {"total-duration", AMessage::kTypeDouble}};
    ASSERT_EQ(3u, msg->countEntries());
    for (size_t i = 0; i < 3; ++i) {
        AMessage::Type type = AMessage::kTypeInt32;
        ASSERT_STREQ(fields[i].first, msg->getEntryNameAt(i, &type));
        EXPECT_EQ(fields[i].second, type) << fields[i].first;
    }
    EXPECT_EQ(nullptr, msg->getEntryNameAt(3, nullptr));

    int32_t i32 = -1;
    double d = -1;
    AString s("untouched");
    EXPECT_FALSE(msg->findInt32("usage-report", &i32));
    EXPECT_FALSE(msg->findString("cast-name", &s));
    EXPECT_FALSE(msg->findDouble("cast-name", &d));
    EXPECT_FALSE(msg->findInt32("missing", &i32));
    EXPECT_EQ(-1, i32);
    EXPECT_EQ("untouched", s.str());
    ASSERT_TRUE(msg->findString("usage-report", &s));
    EXPECT_EQ("yes", s.str());
    ASSERT_TRUE(msg->findInt32("cast-name", &i32));
    EXPECT_EQ(7, i32);
    ASSERT_TRUE(msg->findDouble("total-duration", &d));
    EXPECT_DOUBLE_EQ(12.5, d);

    // A dup is a copy of its own.
    sp<AMessage> copy = msg->dup();
    copy->setString("usage-report", "no");
    copy->setWhat(10);
    ASSERT_TRUE(msg->findString("usage-report", &s));
    EXPECT_EQ("yes", s.str());
    EXPECT_EQ(33u, msg->what());
    EXPECT_EQ(4, copy->target());
}

class RecordingHandler : public AHandler {
public:
    static constexpr uint32_t kThrow = 90000;
    static constexpr uint32_t kStopLooper = 90001;
    static constexpr uint32_t kDropLooper = 90002;

    std::vector<uint32_t> whats() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mWhats;
    }
    std::set<pid_t> threads() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mThreads;
    }
    size_t count() const { return whats().size(); }

    sp<ALooper> heldLooper;

protected:
    void onMessageReceived(const sp<AMessage>& msg) override {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mWhats.push_back(msg->what());
            mThreads.insert(gettid());
        }
        if (msg->what() == kThrow) throw std::runtime_error("handler failure");
        if (msg->what() == kStopLooper) looper()->stop();
        if (msg->what() == kDropLooper) heldLooper.clear();
    }

private:
    mutable std::mutex mLock;
    std::vector<uint32_t> mWhats;
    std::set<pid_t> mThreads;
};

android::status_t Post(const sp<AHandler>& handler, uint32_t what, int64_t delayUs = 0) {
    sp<AMessage> msg = new AMessage(what, handler->id());
    return msg->post(delayUs);
}

class FoundationLooper : public ::testing::Test {
protected:
    void SetUp() override {
        android::SetSystemClock(&clock);
        looper->registerHandler(handler);
    }
    void TearDown() override {
        looper.clear();
        android::SetSystemClock(nullptr);
    }

    ManualClock clock;
    sp<ALooper> looper = new ALooper();
    sp<RecordingHandler> handler = new RecordingHandler();
};

TEST_F(FoundationLooper, DueMessagesFirstEqualDueTimesInPostOrderAllOnTheLooperThread) {
    // Queued before the start with time standing still, so equal delays mean equal due times.
    std::vector<uint32_t> later = {10};
    Post(handler, 10, 2'000);
    for (uint32_t what = 100; what < 150; ++what) {
        Post(handler, what, what % 2 == 0 ? 0 : 2'000);
        if (what % 2 == 1) later.push_back(what);
    }
    ASSERT_EQ(android::OK, looper->start());
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 25; }));
    clock.advance(1'999);
    Post(handler, 14);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 26; }));
    clock.advance(1);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 52; }));

    const std::vector<uint32_t> whats = handler->whats();
    for (size_t i = 0; i < 25; ++i) EXPECT_EQ(100 + 2 * i, whats[i]);
    EXPECT_EQ(14u, whats[25]);
    EXPECT_EQ(later, std::vector<uint32_t>(whats.begin() + 26, whats.end()));

    ASSERT_EQ(1u, handler->threads().size());
    EXPECT_NE(gettid(), *handler->threads().begin());
}

TEST_F(FoundationLooper, PostsFromManyThreadsAreAllHandledInEachThreadsOrder) {
    constexpr uint32_t kThreads = 4;
    constexpr uint32_t kPosts = 500;
    looper->start();
    std::vector<std::thread> posters;
    for (uint32_t t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (uint32_t i = 0; i < kPosts; ++i)
                EXPECT_EQ(android::OK, Post(handler, t * kPosts + i));
        });
    }
    for (std::thread& poster : posters) poster.join();
    ASSERT_TRUE(WaitFor([&] { return handler->count() == kThreads * kPosts; }));
    std::vector<uint32_t> next = {0, kPosts, 2 * kPosts, 3 * kPosts};
    for (uint32_t what : handler->whats()) EXPECT_EQ(next[what / kPosts]++, what);
}

TEST_F(FoundationLooper, MessagesForAGoneHandlerOrControllerAreDroppedSilently) {
    looper->start();
    sp<RecordingHandler> doomed = new RecordingHandler();
    const android::handler_id doomedId = looper->registerHandler(doomed);
    EXPECT_GT(doomedId, handler->id());
    EXPECT_GT(handler->id(), 0);
    ASSERT_EQ(android::OK, Post(doomed, 1, 1'000));
    android::wp<RecordingHandler> weakDoomed = doomed;
    doomed.clear();
    EXPECT_EQ(nullptr, weakDoomed.promote());
    clock.advance(1'000);
    sp<AMessage> orphan = new AMessage(1, doomedId);
    EXPECT_EQ(android::NAME_NOT_FOUND, orphan->post());

    // The controller's adaptor holds its target weakly.
    struct Target : public android::RefBase {
        void onMessageReceived(const sp<AMessage>&) { received++; }
        std::atomic<int> received{0};
    };
    sp<Target> target = new Target();
    sp<android::AHandlerReflector<Target>> reflector =
        new android::AHandlerReflector<Target>(target.get());
    looper->registerHandler(reflector);
    Post(reflector, 3);
    ASSERT_TRUE(WaitFor([&] { return target->received == 1; }));
    android::wp<Target> weakTarget = target;
    target.clear();
    ASSERT_EQ(nullptr, weakTarget.promote());
    EXPECT_EQ(android::OK, Post(reflector, 4));
    Post(handler, 5);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 1; }));
    EXPECT_EQ(std::vector<uint32_t>{5}, handler->whats());

    // A looper that is gone takes its registrations and its queue with it.
    Post(handler, 6, 5'000'000);
    looper.clear();
    EXPECT_EQ(nullptr, handler->looper());
    EXPECT_EQ(android::NAME_NOT_FOUND, Post(handler, 7));
    EXPECT_EQ(1u, handler->count());
}

TEST_F(FoundationLooper, SurvivesThrowingHandlersAndStopsOrDiesOnItsOwnThread) {
    looper->start();
    Post(handler, RecordingHandler::kThrow);
    Post(handler, RecordingHandler::kStopLooper);
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 2; }));
    // Asked from the looper thread the stop only takes effect; this one joins.
    Post(handler, 1);
    EXPECT_EQ(android::OK, looper->stop());
    EXPECT_EQ(2u, handler->count());
    looper->start();
    ASSERT_TRUE(WaitFor([&] { return handler->count() == 3; }));

    // The handler drops the last reference on the looper from the looper thread itself.
    handler->heldLooper = looper;
    looper.clear();
    Post(handler, RecordingHandler::kDropLooper);
    ASSERT_TRUE(WaitFor([&] { return Post(handler, 7) == android::NAME_NOT_FOUND; }));
    EXPECT_EQ(4u, handler->count());
}

}  // namespace
