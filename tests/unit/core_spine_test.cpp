// The process entry, the looper dispatch, the bus bridge and the suspend alerts.
#include <dirent.h>
#include <unistd.h>

#include <thread>

#include "core/Messages.h"
#include "core/OrvixCast.h"
#include "platform/android/BinderPool.h"
#include "tests/unit/DaemonTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::fakes::ManualClock;
using orvix::fakes::WaitFor;
using orvix::test::DaemonTest;
using orvix::test::LogCapture;

namespace {

size_t ThreadCount() {
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(dir);
    }
    return count;
}

std::vector<std::string> ReceiverOps() {
    std::vector<std::string> ops;
    for (const auto& call : Fakes().world().receiver().calls()) {
        ops.push_back(orvix::model::castOpName(call.op));
    }
    return ops;
}

}  // namespace

TEST(ProcessEntry, FeatureSwitchFalseExits255WithoutStartingAThread) {
    Fakes().reset();
    LogCapture log;
    Fakes().world().settings().set(kFeatureGoogleCast, "false", orvix::model::Origin::App);
    size_t threadsBefore = ThreadCount();

    EXPECT_EQ(OrvixCastMain(), -1);
    EXPECT_EQ(static_cast<uint8_t>(OrvixCastMain()), 255);

    EXPECT_TRUE(
        log.has("orvixcast: main() Orvixcast feature is disabled! ENV GoogleCast:false", LOG_ERR));
    EXPECT_FALSE(log.has("CastController instance created"));
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST(ProcessEntry, AnythingButExactlyFalseStartsTheDaemon) {
    for (const char* value : {"False", "false ", "0", ""}) {
        SCOPED_TRACE(std::string("feature value '") + value + "'");
        Fakes().reset();
        LogCapture log;
        if (*value != '\0') {
            Fakes().world().settings().set(kFeatureGoogleCast, value, orvix::model::Origin::App);
        }
        // The controller thread parks in its bus retry on this clock for the rest of the
        // process: the clock must outlive it, so it is never freed.
        auto* clock = new ManualClock();
        android::SetSystemClock(clock);
        Fakes().world().bus().setReachable(false);

        int result = 1;
        std::thread entry([&] { result = OrvixCastMain(); });
        EXPECT_TRUE(log.waitFor("orvixcast: main() Starting OrvixCast process!", LOG_INFO));
        EXPECT_TRUE(clock->waitForSleepers(1, std::chrono::seconds(5)));
        EXPECT_TRUE(log.has("castcontroller: threadLoop() Entered, thread id:"));
        android::BinderPool::Shutdown();
        entry.join();
        EXPECT_EQ(result, 0);
        android::SetSystemClock(nullptr);
    }
}

TEST_F(DaemonTest, DispatchIgnoresUnknownCodesAndHandlesNameAndDisconnectItself) {
    startLooperAndBus();
    // No cast control yet: a name change goes nowhere and logs nothing from the dispatch.
    sp<AMessage> name = new AMessage(kWhatSetCastName);
    name->setString(kKeyCastDeviceName, "Kitchen");
    postAndSettle(name);
    ASSERT_TRUE(mController->Init());
    ASSERT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
    mLog.clear();

    for (uint32_t code : {0u, 3u, 34u, 40u}) {
        postAndSettle(new AMessage(code));
    }
    for (const auto& line : mLog.lines()) ADD_FAILURE() << line.text;

    sp<AMessage> empty = new AMessage(kWhatSetCastName);
    empty->setString(kKeyCastDeviceName, "");
    postAndSettle(empty);
    EXPECT_TRUE(mLog.lines().empty());

    postAndSettle(name);
    EXPECT_TRUE(
        mLog.has("castcontroller: onMessageReceived() requested cast to set new name "
                 "Kitchen",
                 LOG_INFO));
    world().receiver().refuse("SetDeviceName");
    mLog.clear();
    postAndSettle(name);
    EXPECT_FALSE(mLog.has("requested cast to set new name"));
    std::vector<std::string> ops = ReceiverOps();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "SetDeviceName"), 2);

    // A disconnect while cast owns the speaker clears the flag, then cleans up the UI.
    Fakes().appWrite(kMidCurrentSource, "24");
    Fakes().drain();
    CastControllerPeer::setControlConnected(*mController, true);
    postAndSettle(new AMessage(kWhatControlDisconnected));
    EXPECT_FALSE(CastControllerPeer::controlConnected(*mController));
    int disconnected = mLog.indexOf(
        "castcontroller: castcontrol::onMessageReceived() "
        "onControlDisConnected!");
    int cleanup = mLog.indexOf("HandleGracefulCleanUp() Current source ID:24, Source switch ?:No");
    EXPECT_GE(disconnected, 0);
    EXPECT_GT(cleanup, disconnected);
    auto updates = world().ui().updates();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].kind, orvix::model::UiUpdate::Kind::Clear);
}

TEST_F(DaemonTest, BusAlertsBecomeLooperMessagesOnTheBusThread) {
    startController();
    EXPECT_EQ(CastControllerPeer::vemoMids(*mController),
              (std::vector<int32_t>{90, 571, 150, 115, 37, 572, 573}));

    Fakes().appWrite(kMidDeviceName, "Living Room");
    Fakes().appWrite(kMidDeviceName, "");
    Fakes().appWrite(kMidClientRequest, "");
    Fakes().appWrite(kMidClientRequest,
                     R"({"request_type":"get","id":"tos","device_uuid":"phone-1"})");
    Fakes().appWrite(kMidOemTimezone, "ignored");
    Fakes().drain();
    settle();

    std::vector<std::string> ops = ReceiverOps();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "SetDeviceName"), 1);
    for (const auto& call : world().receiver().calls()) {
        if (call.op == orvix::model::CastOp::SetDeviceName) {
            EXPECT_EQ(call.args[0].asString(), "Living Room");
        }
    }
    EXPECT_TRUE(mLog.has("requested cast to set new name Living Room"));
    // The empty request reaches the handler, which drops it; the other one is answered.
    EXPECT_EQ(mLog.count("castcontroller: HandleClientRequest() Entered"), 2u);
    EXPECT_NE(world().bus().payload(kMidClientReply).find("\"device_uuid\":\"phone-1\""),
              std::string::npos);
    EXPECT_TRUE(mLog.has("castcontroller: HandleOEMTimezoneData() Set Timezone request!"));

    // The alert lines name the bus thread, not ours.
    std::string ours = "TID:" + std::to_string(gettid());
    for (const auto& line : mLog.lines()) {
        if (line.text.find("Received VEMO alert") != std::string::npos) {
            EXPECT_EQ(line.text.find(ours), std::string::npos) << line.text;
        }
    }

    mLog.clear();
    Fakes().appWrite(kMidClientReply, "echo");
    Fakes().drain();
    mController->MessageBoxAlert(4242);
    settle();
    std::vector<orvix::test::LogLine> lines = mLog.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].text.find("MessageBoxAlert() Received VEMO alert for MID 572 TID:"),
              std::string::npos);
    EXPECT_EQ(lines[0].priority, LOG_INFO);
    EXPECT_NE(lines[1].text.find("Received VEMO alert for MID 4242"), std::string::npos);
}

TEST_F(DaemonTest, SuspendAlertsSuspendTheControlWithTheirReason) {
    startLooperAndBus();
    // Before the control exists a suspend does nothing at all.
    Fakes().appWrite(kMidSuspendReason3, "");
    Fakes().drain();
    EXPECT_TRUE(ReceiverOps().empty());
    EXPECT_FALSE(CastControllerPeer::stopRequested(*mController));

    ASSERT_TRUE(mController->Init());
    ASSERT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
    Fakes().appWrite(kMidSuspendReason7, "");
    Fakes().appWrite(kMidSuspendReason3, "");
    Fakes().appWrite(kMidSuspendReason3Alt, "");
    Fakes().drain();
    std::vector<Json::Value> reasons;
    for (const auto& call : world().receiver().calls()) {
        if (call.op == orvix::model::CastOp::Suspend) reasons.push_back(call.args[0]);
    }
    ASSERT_EQ(reasons.size(), 3u);
    EXPECT_EQ(reasons[0].asInt(), 7);
    EXPECT_EQ(reasons[1].asInt(), 3);
    EXPECT_EQ(reasons[2].asInt(), 3);
    EXPECT_TRUE(CastControllerPeer::stopRequested(*mController));
    EXPECT_EQ(mLog.count("castcontroller: HandleCastSuspend() Notified waiting thread to clean "
                         "up resources!",
                         LOG_NOTICE),
              3u);
}

TEST_F(DaemonTest, MessagesForADestroyedControllerAreDroppedSilently) {
    startLooperAndBus();
    sp<android::ALooper> looper = CastControllerPeer::looper(*mController);
    android::handler_id id = mController->handlerId();
    ASSERT_GT(id, 0);
    destroyController();
    mLog.clear();

    sp<AMessage> request = new AMessage(kWhatClientRequest, id);
    request->setString(kKeyMessageData, R"({"request_type":"get","id":"x","device_uuid":"u"})");
    request->post();
    // Anything still running on the looper has run once a later message of ours has.
    sp<Marker> marker = new Marker();
    looper->registerHandler(marker);
    sp<AMessage> probe = new AMessage(0, marker->id());
    probe->post();
    ASSERT_TRUE(WaitFor([&] { return marker->seen(); }));
    EXPECT_FALSE(mLog.has("HandleClientRequest"));
    EXPECT_EQ(world().bus().payload(kMidClientReply), "");
}
