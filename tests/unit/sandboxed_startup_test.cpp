// The controller thread's whole start-up and stop, with the real socket path and setup
// service port: these run only inside the private sandbox (scripts/in-sandbox.sh).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"
#include "tests/unit/TestHttpServer.h"

using orvix::fakes::Fakes;
using orvix::fakes::ManualClock;
using orvix::fakes::WaitFor;
using orvix::test::TestHttpServer;

namespace {

constexpr int64_t kSecond = 1000000;

class StartUpTest : public orvix::test::DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "touches /tmp/cast-control and port 8008: run through "
                            "scripts/in-sandbox.sh";
        }
        DaemonTest::SetUp();
        unlink(kCastControlSocketPath.c_str());
        android::SetSystemClock(&mClock);
    }

    void TearDown() override {
        if (mController != nullptr) {
            mController->join();
        }
        DaemonTest::TearDown();
        android::SetSystemClock(nullptr);
        unlink(kCastControlSocketPath.c_str());
    }

    void createSocket() {
        int fd = open(kCastControlSocketPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        close(fd);
    }

    void runController() {
        mController = new CastController();
        mController->run("Orvix_CastController", 0, 0);
    }

    bool waitForSleeps(size_t count) {
        return WaitFor([&] { return mClock.sleeps().size() >= count; });
    }

    std::vector<std::string> ops() {
        std::vector<std::string> names;
        for (const auto& call : world().receiver().calls()) {
            names.push_back(orvix::model::castOpName(call.op));
        }
        return names;
    }

    ManualClock mClock;
};

}  // namespace

TEST_F(StartUpTest, StartsInOrderRetryingTheBusAndPollingTheSocketThenStopsOnSuspend) {
    TestHttpServer http(200, R"({"tos_accepted":true})");
    ASSERT_TRUE(http.start());
    world().bus().setReachable(false);
    runController();

    // The looper runs before the bus is reached; the bus is retried every 3 s.
    ASSERT_TRUE(waitForSleeps(1));
    EXPECT_NE(CastControllerPeer::looper(*mController), nullptr);
    EXPECT_GT(mController->handlerId(), 0);
    mClock.advance(3 * kSecond);
    ASSERT_TRUE(waitForSleeps(2));
    EXPECT_EQ(world().bus().listenersJson().size(), 0u);
    world().bus().setReachable(true);
    mClock.advance(3 * kSecond);

    // Then the socket is polled every second until it appears.
    ASSERT_TRUE(waitForSleeps(3));
    EXPECT_EQ(mClock.sleeps(), (std::vector<int64_t>{3 * kSecond, 3 * kSecond, kSecond}));
    Json::Value listeners = world().bus().listenersJson();
    ASSERT_EQ(listeners.size(), 1u);
    Json::Value mids(Json::arrayValue);
    for (int mid : {90, 571, 150, 115, 37, 572, 573}) mids.append(mid);
    EXPECT_EQ(listeners[0]["mids"], mids);
    EXPECT_TRUE(
        mLog.has("castcontroller: WaitForCastConnection() checking for castcontrolsocket "
                 "@ ->/tmp/cast-control, TID:"));
    EXPECT_TRUE(ops().empty());
    createSocket();
    mClock.advance(kSecond);

    ASSERT_TRUE(
        mLog.waitFor("castcontroller: threadLoop() Started cast observer and CLI thread! "
                     "wait for stop signal",
                     LOG_INFO));
    std::vector<std::string> started = ops();
    ASSERT_GE(started.size(), 3u);
    EXPECT_EQ(started[0], "Create");
    EXPECT_EQ(world().receiver().calls()[0].args[0].asString(), "/tmp/cast-control");
    EXPECT_EQ(started[1], "CastCliInit");
    EXPECT_EQ(started[2], "CastCliSyncVolume");
    EXPECT_EQ(world().receiver().calls()[2].args[0].asInt(), 30);
    EXPECT_TRUE(mLog.has("castcontroller: threadLoop() Deallocate Read eureka thread resources!",
                         LOG_NOTICE));
    EXPECT_EQ(world().settings().value(kGoogleCastTOS), "true");
    EXPECT_EQ(world().settings().value(kGoogleCastUsageReport), "false");

    Fakes().appWrite(kMidSuspendReason3, "");
    mController->join();
    std::vector<std::string> stopped = ops();
    ASSERT_GE(stopped.size(), 2u);
    EXPECT_EQ(stopped[stopped.size() - 2], "Suspend");
    EXPECT_EQ(world().receiver().calls()[stopped.size() - 2].args[0].asInt(), 3);
    EXPECT_EQ(stopped.back(), "CastCliExit");
    int woken = mLog.indexOf("castcontroller: threadLoop() thread woken up, stopping castcontrol");
    int bye =
        mLog.indexOf("castcontroller: threadLoop() All resources cleaned up! destroying bye!");
    EXPECT_GE(woken, 0);
    EXPECT_GT(bye, woken);
    EXPECT_EQ(mLog.lines()[static_cast<size_t>(bye)].priority, LOG_ERR);

    // The looper and the bus outlive the controller thread.
    Fakes().appWrite(kMidClientRequest, R"({"request_type":"get","id":"tos","device_uuid":"d"})");
    EXPECT_TRUE(WaitFor([&] { return !world().bus().payload(kMidClientReply).empty(); }));
}

TEST_F(StartUpTest, AFailedInitEndsTheThreadButTheLooperAndBusKeepAnswering) {
    createSocket();
    world().receiver().refuse("Create");
    runController();
    mController->join();

    EXPECT_TRUE(
        mLog.has("castcontroller: Init() Failed to construct castcontrol, observer and SS "
                 "listerner instances!",
                 LOG_ERR));
    EXPECT_EQ(ops(), (std::vector<std::string>{"Create"}));

    Fakes().appWrite(kMidClientRequest, R"({"request_type":"set","id":"tos","action":"accepted",)"
                                        R"("device_uuid":"d","user_ip":"10.0.0.2"})");
    ASSERT_TRUE(WaitFor([&] { return !world().bus().payload(kMidClientReply).empty(); }));
    EXPECT_EQ(world().bus().payload(kMidClientReply),
              R"({"action":"","device_uuid":"","id":"","status":"failure",)"
              R"("status_msg":"Cast server unreachable try after 5 secs!"})");
    // A suspend with no control does not stop anything.
    Fakes().appWrite(kMidSuspendReason7, "");
    Fakes().drain();
    EXPECT_FALSE(CastControllerPeer::stopRequested(*mController));
}

TEST_F(StartUpTest, ASuspendDuringTheSetupFetchIsNotLost) {
    createSocket();
    runController();
    // Nothing listens on the setup port yet: the fetch retries every half second.
    ASSERT_TRUE(WaitFor([&] {
        std::vector<int64_t> sleeps = mClock.sleeps();
        return !sleeps.empty() && sleeps.back() == 500000;
    }));
    Fakes().appWrite(kMidSuspendReason7, "");
    Fakes().drain();
    EXPECT_TRUE(CastControllerPeer::stopRequested(*mController));
    EXPECT_FALSE(mLog.has("thread woken up"));

    TestHttpServer http(200, "{}");
    ASSERT_TRUE(http.start());
    mClock.advance(500000);
    mController->join();
    EXPECT_TRUE(mLog.has("castcontroller: threadLoop() thread woken up, stopping castcontrol"));
    EXPECT_EQ(ops().back(), "CastCliExit");
    EXPECT_EQ(http.requests(), 1);
}
