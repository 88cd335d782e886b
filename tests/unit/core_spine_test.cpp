// The process entry, the looper dispatch, the bus bridge and the suspend alerts.
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "core/OrvixCast.h"
#include "platform/android/BinderPool.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace {

size_t ThreadCount() {
    std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

sp<AMessage> NameMessage(const char* name) {
    sp<AMessage> msg = new AMessage(kWhatSetCastName);
    msg->setString(kKeyCastDeviceName, name);
    return msg;
}

}  // namespace

TEST(ProcessEntry, OnlyExactlyFalseSwitchesTheDaemonOff) {
    Fakes().reset();
    {
        LogCapture log;
        Fakes().world().settings().set(kFeatureGoogleCast, "false", model::Origin::App);
        size_t threadsBefore = ThreadCount();
        EXPECT_EQ(OrvixCastMain(), -1);
        EXPECT_EQ(static_cast<uint8_t>(OrvixCastMain()), 255);
        EXPECT_TRUE(log.has("orvixcast: main() Orvixcast feature is disabled! ENV GoogleCast:false",
                            LOG_ERR));
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }
    for (const char* value : {"False", "false ", "0", ""}) {
        SCOPED_TRACE(std::string("feature value '") + value + "'");
        Fakes().reset();
        LogCapture log;
        if (*value != '\0') {
            Fakes().world().settings().set(kFeatureGoogleCast, value, model::Origin::App);
        }
        // The controller thread parks in its bus retry on this clock for the rest of the
        // process: the clock must outlive it, so it is never freed.
        auto* clock = new fakes::ManualClock();
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
    postAndSettle(NameMessage("Kitchen"));  // no cast control yet
    ASSERT_TRUE(mController->Init());
    ASSERT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
    mLog.clear();
    for (uint32_t code : {0u, 3u, 34u, 40u}) postAndSettle(new AMessage(code));
    postAndSettle(NameMessage(""));
    EXPECT_EQ(mLog.texts(), Names{});
    EXPECT_EQ(since(0, "cast:SetDeviceName"), Names{});

    postAndSettle(NameMessage("Kitchen"));
    EXPECT_TRUE(mLog.has(
        "castcontroller: onMessageReceived() requested cast to set new name Kitchen", LOG_INFO));
    world().receiver().refuse("SetDeviceName");
    mLog.clear();
    postAndSettle(NameMessage("Kitchen"));
    EXPECT_FALSE(mLog.has("requested cast to set new name"));
    EXPECT_EQ(since(0, "cast:SetDeviceName"),
              (Names{"cast:SetDeviceName[\"Kitchen\"]", "cast:SetDeviceName[\"Kitchen\"]"}));

    // A disconnect while cast owns the speaker clears the flag, then cleans up the UI.
    Fakes().appWrite(kMidCurrentSource, "24");
    CastControllerPeer::controlConnected(*mController) = true;
    size_t m = mark();
    postAndSettle(new AMessage(kWhatControlDisconnected));
    EXPECT_FALSE(CastControllerPeer::controlConnected(*mController));
    int disconnected =
        mLog.indexOf("castcontroller: castcontrol::onMessageReceived() onControlDisConnected!");
    EXPECT_GE(disconnected, 0);
    EXPECT_GT(mLog.indexOf("HandleGracefulCleanUp() Current source ID:24, Source switch ?:No"),
              disconnected);
    EXPECT_EQ(since(m), Names{"ui:clear"});
}

TEST_F(DaemonTest, BusAlertsBecomeLooperMessagesOnTheBusThread) {
    startController();
    EXPECT_EQ(model::compactJson(world().bus().listenersJson()[0]["mids"]),
              "[90,571,150,115,37,572,573]");
    mTap->swallow({kWhatSetCastName, kWhatClientRequest, kWhatOemTimezone});
    mLog.clear();
    const std::pair<int32_t, const char*> writes[] = {
        {kMidDeviceName, "Living Room"},  {kMidDeviceName, ""},         {kMidClientRequest, ""},
        {kMidClientRequest, "{\"a\":1}"}, {kMidOemTimezone, "ignored"}, {kMidClientReply, "echo"}};
    for (const auto& [mid, payload] : writes) Fakes().appWrite(mid, payload);
    deliver();
    mController->MessageBoxAlert(4242);
    settle();

    EXPECT_EQ(mTap->take(kWhatSetCastName),
              (Names{R"({castdevice-name="Living Room"})", R"({castdevice-name=""})"}));
    EXPECT_EQ(mTap->take(kWhatClientRequest),
              (Names{R"({message-data=""})", R"({message-data="{"a":1}"})"}));
    EXPECT_EQ(mTap->take(kWhatOemTimezone), Names{"{}"});
    // Each alert gives the one common line, naming the bus thread (ours only for 4242).
    const std::string ours = " TID:" + std::to_string(gettid());
    Names lines;
    for (const auto& line : mLog.lines()) {
        size_t tid = std::min(line.text.find(" TID:"), line.text.size());
        EXPECT_EQ(line.priority, LOG_INFO);
        lines.push_back(line.text.substr(0, tid) + (line.text.substr(tid) == ours ? " ours" : ""));
    }
    const std::string alert = "castcontroller: MessageBoxAlert() Received VEMO alert for MID ";
    EXPECT_EQ(lines, (Names{alert + "90", alert + "90", alert + "571", alert + "571", alert + "573",
                            alert + "572", alert + "4242 ours"}));
}

TEST_F(DaemonTest, SuspendAlertsSuspendTheControlWithTheirReason) {
    startLooperAndBus();
    // Before the control exists a suspend does nothing at all.
    Fakes().appWrite(kMidSuspendReason3, "");
    Fakes().drain();
    EXPECT_EQ(since(0, "cast:"), Names{});
    EXPECT_FALSE(CastControllerPeer::stopRequested(*mController));

    ASSERT_TRUE(mController->Init());
    for (int32_t mid : {kMidSuspendReason7, kMidSuspendReason3, kMidSuspendReason3Alt}) {
        Fakes().appWrite(mid, "");
    }
    Fakes().drain();
    EXPECT_EQ(since(0, "cast:Suspend"),
              (Names{"cast:Suspend[7]", "cast:Suspend[3]", "cast:Suspend[3]"}));
    EXPECT_TRUE(CastControllerPeer::stopRequested(*mController));
    EXPECT_EQ(mLog.count("castcontroller: HandleCastSuspend() Notified waiting thread to clean "
                         "up resources!",
                         LOG_NOTICE),
              3u);
}

TEST_F(DaemonTest, MessagesForADestroyedControllerAreDroppedSilently) {
    startLooperAndBus();
    // The looper and the tap outlive the controller.
    sp<android::ALooper> looper = CastControllerPeer::looper(*mController);
    android::handler_id id = mController->handlerId();
    destroyController();
    mLog.clear();
    sp<AMessage> request = new AMessage(kWhatClientRequest, id);
    request->setString(kKeyMessageData, R"({"request_type":"get","id":"x","device_uuid":"u"})");
    request->post();
    settle();
    EXPECT_EQ(mTap->take(kWhatClientRequest).size(), 1u);
    EXPECT_EQ(mLog.texts(), Names{});
    EXPECT_EQ(world().bus().payload(kMidClientReply), "");
}

}  // namespace orvix::test
