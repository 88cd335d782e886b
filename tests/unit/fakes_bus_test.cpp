// The fake message bus: alerts on the bus thread, payload snapshots during an alert, and the
// bus's reachability as the daemon's client sees it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/device/VEMOHelper.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fakes/Wait.h"

namespace orvix::fakes {
namespace {

using android::sp;
using android::Vector;

Vector<int32_t> Mids(std::initializer_list<int32_t> mids) {
    Vector<int32_t> v;
    for (int32_t mid : mids) v.add(mid);
    return v;
}

// Reads the payload of each alert through its helper, as the daemon does. The first alert
// can be held until the test opens the gate.
class Listener : public android::IVemoAlerts {
public:
    explicit Listener(android::VEMOHelper* helper) : mHelper(helper) {}

    struct Seen {
        int32_t mid;
        std::string payload;
        std::thread::id thread;
    };

    void MessageBoxAlert(int32_t mid) override {
        {
            std::unique_lock<std::mutex> lock(mLock);
            mInAlert = true;
            mChanged.notify_all();
            mChanged.wait(lock, [this] { return mGateOpen; });
        }
        std::string payload;
        mHelper->readRemoteMessage(mid, payload);
        std::lock_guard<std::mutex> guard(mLock);
        mSeen.push_back(Seen{mid, payload, std::this_thread::get_id()});
    }
    void MessageBoxStatus(int32_t) override {}

    void closeGate() {
        std::lock_guard<std::mutex> guard(mLock);
        mGateOpen = false;
    }
    void openGate() {
        std::lock_guard<std::mutex> guard(mLock);
        mGateOpen = true;
        mChanged.notify_all();
    }
    bool inAlert() {
        std::lock_guard<std::mutex> guard(mLock);
        return mInAlert;
    }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> guard(mLock);
        return mSeen;
    }

private:
    android::VEMOHelper* const mHelper;
    std::mutex mLock;
    std::condition_variable mChanged;
    bool mGateOpen = true;
    bool mInAlert = false;
    std::vector<Seen> mSeen;
};

class FakesBus : public ::testing::Test {
protected:
    void SetUp() override { Fakes().reset(); }
    void TearDown() override { Fakes().reset(); }
};

TEST_F(FakesBus, AlertReadsItsOwnPayloadOnTheBusThreadEvenAfterALaterWrite) {
    android::VEMOHelper helper;
    sp<Listener> listener = new Listener(&helper);
    ASSERT_TRUE(helper.verifyConnection_l());
    ASSERT_EQ(0, helper.registerListener(listener, Mids({90, 571})));

    listener->closeGate();
    ASSERT_TRUE(Fakes().appWrite(571, "first"));
    ASSERT_TRUE(WaitFor([&] { return listener->inAlert(); }));
    // The bus moves on while the first alert is still being handled.
    ASSERT_TRUE(Fakes().appWrite(571, "second"));
    std::string now;
    EXPECT_EQ(0, helper.readRemoteMessage(571, now));
    EXPECT_EQ("second", now);
    listener->openGate();
    Fakes().drain();

    std::vector<Listener::Seen> seen = listener->seen();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("first", seen[0].payload);
    EXPECT_EQ("second", seen[1].payload);
    EXPECT_NE(std::this_thread::get_id(), seen[0].thread);
    EXPECT_EQ(seen[0].thread, seen[1].thread);

    // The daemon's own writes are recorded as its own and do not come back to it.
    EXPECT_EQ(0, helper.writeRemoteMessage(572, "{}", 0));
    EXPECT_EQ(0, helper.writeLocalMessage(90, "Kitchen"));
    Fakes().drain();
    EXPECT_EQ(2u, listener->seen().size());
    Json::Value log = Fakes().world().bus().logJson();
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ("app", log[0]["from"].asString());
    EXPECT_EQ("daemon", log[2]["from"].asString());
    EXPECT_EQ("remote", log[2]["scope"].asString());
    EXPECT_EQ("local", log[3]["scope"].asString());
}

TEST_F(FakesBus, AnotherClientOfTheDaemonIsAlertedAndUnregisterEndsIt) {
    android::VEMOHelper controller;
    android::VEMOHelper observer;
    sp<Listener> listener = new Listener(&controller);
    ASSERT_EQ(0, controller.registerListener(listener, Mids({90, 572})));
    EXPECT_EQ(android::BAD_VALUE, controller.registerListener(nullptr, Mids({1})));

    ASSERT_EQ(0, observer.writeRemoteMessage(90, "Den", 0));
    Fakes().drain();
    ASSERT_EQ(1u, listener->seen().size());
    EXPECT_EQ("Den", listener->seen()[0].payload);

    ASSERT_EQ(0, controller.unregisterListener(listener, Mids({90, 572})));
    EXPECT_EQ(Json::Value(Json::arrayValue), Fakes().world().bus().listenersJson());
    ASSERT_TRUE(Fakes().appWrite(90, "Attic"));
    Fakes().drain();
    EXPECT_EQ(1u, listener->seen().size());
    // The fakes let go of a listener once it has no MIDs left.
    EXPECT_EQ(1, listener->getStrongCount());
}

TEST_F(FakesBus, UnreachableBusFailsTheClientAndDestroyedHelpersLeave) {
    Fakes().world().bus().setReachable(false);
    {
        android::VEMOHelper helper;
        sp<Listener> listener = new Listener(&helper);
        EXPECT_FALSE(helper.verifyConnection_l());
        EXPECT_NE(0, helper.registerListener(listener, Mids({90})));
        EXPECT_NE(0, helper.writeRemoteMessage(90, "x", 0));
        std::string payload = "kept";
        EXPECT_NE(0, helper.readRemoteMessage(90, payload));
        EXPECT_EQ("kept", payload);

        Fakes().world().bus().setReachable(true);
        EXPECT_TRUE(helper.verifyConnection_l());
        ASSERT_EQ(0, helper.registerListener(listener, Mids({90})));
        EXPECT_EQ(1u, Fakes().world().bus().listenersJson().size());
    }
    EXPECT_EQ(0u, Fakes().world().bus().listenersJson().size());
    EXPECT_TRUE(Fakes().appWrite(90, "nobody"));
    Fakes().drain();
}

}  // namespace
}  // namespace orvix::fakes
