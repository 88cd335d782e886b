// The looper resolves a message's handler when it is posted, not when it is delivered: what
// was queued for a registration must die with that registration, and a message re-targeted
// after its post still goes where it was posted to.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "platform/android/AHandler.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"
#include "platform/android/Clock.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"

namespace {

using android::AMessage;
using android::sp;

class Recorder : public android::AHandler {
public:
    std::vector<uint32_t> whats() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mWhats;
    }

protected:
    void onMessageReceived(const sp<AMessage>& msg) override {
        std::lock_guard<std::mutex> lock(mLock);
        mWhats.push_back(msg->what());
    }

private:
    mutable std::mutex mLock;
    std::vector<uint32_t> mWhats;
};

class FoundationLooperQueue : public ::testing::Test {
protected:
    void SetUp() override { android::SetSystemClock(&clock); }
    void TearDown() override {
        looper.clear();
        android::SetSystemClock(nullptr);
    }

    orvix::fakes::ManualClock clock;
    sp<android::ALooper> looper = new android::ALooper();
};

TEST_F(FoundationLooperQueue, QueuedMessagesBelongToTheRegistrationTheyWerePostedTo) {
    sp<Recorder> first = new Recorder();
    sp<Recorder> second = new Recorder();
    ASSERT_EQ(android::OK, looper->start());
    const android::handler_id oldId = looper->registerHandler(first);
    const android::handler_id secondId = looper->registerHandler(second);

    // Queued for first's registration, which ends before they are due; first comes back under
    // a new id at once, so only its id tells the old messages from the new.
    ASSERT_EQ(android::OK, (new AMessage(1, oldId))->post(1'000));
    sp<AMessage> moved = new AMessage(2, oldId);
    ASSERT_EQ(android::OK, moved->post(1'000));
    moved->setTarget(secondId);
    looper->unregisterHandler(oldId);
    const android::handler_id newId = looper->registerHandler(first);
    ASSERT_NE(oldId, newId);
    ASSERT_EQ(android::OK, (new AMessage(3, newId))->post(1'000));
    // Posted after the delayed ones but due first.
    ASSERT_EQ(android::OK, (new AMessage(4, newId))->post());
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return first->whats().size() == 1; }));

    clock.advance(1'000);
    ASSERT_EQ(android::OK, (new AMessage(5, secondId))->post());
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return second->whats().size() == 1; }));
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return first->whats().size() == 2; }));
    EXPECT_EQ((std::vector<uint32_t>{4, 3}), first->whats());
    EXPECT_EQ(std::vector<uint32_t>{5}, second->whats());
}

// On real time: the loop sleeps until the front's due time, so a post that becomes the new front
// must wake it, and one behind the front must not be needed to.
TEST(FoundationLooperWakeUp, AnEarlierMessageWakesALoopWaitingForALaterOne) {
    sp<android::ALooper> looper = new android::ALooper();
    sp<Recorder> recorder = new Recorder();
    ASSERT_EQ(android::OK, looper->start());
    const android::handler_id id = looper->registerHandler(recorder);
    constexpr int64_t kHourUs = 3'600'000'000;

    ASSERT_EQ(android::OK, (new AMessage(1, id))->post(kHourUs));
    // Handled once the loop has taken everything due; it then waits for the hour's message.
    ASSERT_EQ(android::OK, (new AMessage(2, id))->post());
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return recorder->whats().size() == 1; }));
    ASSERT_EQ(android::OK, (new AMessage(3, id))->post(20'000));
    ASSERT_EQ(android::OK, (new AMessage(4, id))->post(kHourUs / 2));
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return recorder->whats().size() == 2; },
                                      std::chrono::seconds(5)));
    EXPECT_EQ((std::vector<uint32_t>{2, 3}), recorder->whats());
    looper->unregisterHandler(id);
    looper->stop();
}

}  // namespace
