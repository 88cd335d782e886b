// The controller thread's whole start-up and stop, with the real socket path and setup
// service port: these run only inside the private sandbox (scripts/in-sandbox.sh).
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/unit/DaemonTestSupport.h"
#include "tests/unit/TestHttpServer.h"

namespace orvix::test {

namespace {

constexpr int64_t kSecond = 1000000;

class StartUpTest : public DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "touches /tmp/cast-control and port 8008: run through "
                            "scripts/in-sandbox.sh";
        }
        DaemonTest::SetUp();
        unlink(kCastControlSocketPath.c_str());
        useTestClock();
    }

    void TearDown() override {
        if (mController != nullptr) mController->join();
        DaemonTest::TearDown();
        unlink(kCastControlSocketPath.c_str());
    }

    // The daemon only looks for the path.
    void createSocket() { std::ofstream{kCastControlSocketPath}; }

    void runController() {
        mController = new CastController();
        mController->run("Orvix_CastController", 0, 0);
    }

    bool waitForSleeps(size_t count) {
        return WaitFor([&] { return mClock.sleeps().size() >= count; });
    }

    // The client request every start-up must leave answerable, looper and bus being up.
    bool answersRequests() {
        Fakes().appWrite(kMidClientRequest,
                         R"({"request_type":"get","id":"tos","device_uuid":"d"})");
        return WaitFor([&] { return !world().bus().payload(kMidClientReply).empty(); });
    }
};

}  // namespace

TEST_F(StartUpTest, StartsInOrderRetryingTheBusAndPollingTheSocketThenStopsOnSuspend) {
    TestHttpServer http(200, R"({"tos_accepted":true})");
    ASSERT_TRUE(http.start());
    world().bus().setReachable(false);
    runController();

    // The looper runs before the bus is reached; the bus is retried every 3 s.
    ASSERT_TRUE(waitForSleeps(1));
    EXPECT_GT(mController->handlerId(), 0);
    mClock.advance(3 * kSecond);
    ASSERT_TRUE(waitForSleeps(2));
    EXPECT_EQ(world().bus().listenersJson().size(), 0u);
    world().bus().setReachable(true);
    mClock.advance(3 * kSecond);

    // Then the socket is polled every second until it appears.
    ASSERT_TRUE(waitForSleeps(3));
    EXPECT_EQ(mClock.sleeps(), (std::vector<int64_t>{3 * kSecond, 3 * kSecond, kSecond}));
    EXPECT_EQ(world().bus().listenersJson().size(), 1u);
    EXPECT_EQ(since(0, "cast:"), Names{});
    createSocket();
    mClock.advance(kSecond);

    ASSERT_TRUE(
        mLog.waitFor("castcontroller: threadLoop() Started cast observer and CLI thread! "
                     "wait for stop signal",
                     LOG_INFO));
    EXPECT_EQ(since(0, "cast:"), (Names{"cast:Create[\"/tmp/cast-control\"]", "cast:CastCliInit[]",
                                        "cast:CastCliSyncVolume[30]"}));
    EXPECT_EQ(world().settings().value(kGoogleCastTOS), "true");
    EXPECT_EQ(world().settings().value(kGoogleCastUsageReport), "false");
    // The control was made with the controller's observer: its events reach the daemon (and
    // the status request is the last thing a connection does).
    ASSERT_TRUE(Fakes().castConnect());
    EXPECT_TRUE(WaitFor([&] { return !since(0, "cast:RequestCastStatus").empty(); }));

    Fakes().appWrite(kMidSuspendReason3, "");
    mController->join();
    Names ops = since(0, "cast:");
    ASSERT_GE(ops.size(), 2u);
    EXPECT_EQ(Names(ops.end() - 2, ops.end()), (Names{"cast:Suspend[3]", "cast:CastCliExit[]"}));
    int woken = mLog.indexOf("castcontroller: threadLoop() thread woken up, stopping castcontrol");
    int bye =
        mLog.indexOf("castcontroller: threadLoop() All resources cleaned up! destroying bye!");
    EXPECT_GE(woken, 0);
    ASSERT_GT(bye, woken);
    EXPECT_EQ(mLog.lines()[static_cast<size_t>(bye)].priority, LOG_ERR);
    EXPECT_TRUE(answersRequests());
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
    EXPECT_EQ(since(0, "cast:"), Names{"cast:Create[\"/tmp/cast-control\"]"});
    EXPECT_TRUE(answersRequests());
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
    EXPECT_EQ(since(0, "cast:").back(), "cast:CastCliExit[]");
    EXPECT_EQ(http.requests(), 1);
}

}  // namespace orvix::test
