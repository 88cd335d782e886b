// The source-switch listener: its identity towards the service, the callbacks it installs
// and the notifications it turns into looper messages.
#include "device/VolumeMute.h"
#include "tests/unit/DeviceTestSupport.h"

using android::sp;
using orvix::fakes::Fakes;
using orvix::test::DaemonTest;
using orvix::test::DeviceTest;

namespace {

void Connect() {}
void Disconnect() {}

}  // namespace

TEST_F(DaemonTest, RegisterWithCastCliFillsTheSlotsAndTheLibraryVariables) {
    // The library's connect variables are not the daemon's to set.
    OnCastCliConnect = Connect;
    OnCastCliDisconnect = Disconnect;
    startController();
    EXPECT_TRUE(
        mLog.has("castcontroller: CastSourceSwitchListener() cast listener instance "
                 "created ++ ",
                 LOG_INFO));
    EXPECT_EQ(OnCastCliMuteChange, &handleOnMuteChanges);
    EXPECT_EQ(OnCastCliVolumeChange, &handleOnVolumeChanges);
    EXPECT_EQ(OnRequestResources, &handleOnRequestResources);
    EXPECT_EQ(OnReleaseResources, &handleOnReleaseResources);
    EXPECT_EQ(OnCastCliConnect, &Connect);
    EXPECT_EQ(OnCastCliDisconnect, &Disconnect);
    ASSERT_NE(OnCastCliReady, nullptr);
    Fakes().castReady();
    Fakes().drain();
    EXPECT_TRUE(mLog.has("castcontroller: handleOnCliReady() called ++", LOG_INFO));

    // The grant slot asks for source 24 with the listener, and answers what the service says.
    ASSERT_TRUE(playMySourceCallback);
    ASSERT_TRUE(releaseResourceCallback);
    EXPECT_FALSE(world().source().hasListener());
    EXPECT_TRUE(playMySourceCallback());
    EXPECT_TRUE(world().source().hasListener());
    world().source().setGrant(false);
    EXPECT_FALSE(playMySourceCallback());
    std::vector<orvix::model::SourceCall> calls = world().source().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].op, orvix::model::SourceOp::PlayMySource);
    EXPECT_EQ(calls[1].args[0].asInt(), 24);
    EXPECT_EQ(calls[1].result.asBool(), false);

    // The release slot holds the listener and runs the release procedure.
    sp<CastSourceSwitchListener> listener = mController->sourceSwitchListener();
    int32_t before = listener->getStrongCount();
    releaseResourceCallback = nullptr;
    EXPECT_EQ(listener->getStrongCount(), before - 1);
    listener.clear();

    // Dismantled, the listener goes and lets the controller go with it.
    OnCastCliConnect = nullptr;
    OnCastCliDisconnect = nullptr;
    destroyController();
    EXPECT_TRUE(
        mLog.has("castcontroller: CastSourceSwitchListener::~CastSourceSwitchListener() "
                 "called ++",
                 LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: ~CastController() Entered", LOG_INFO));
}

TEST_F(DeviceTest, NotificationsBecomeLooperMessagesOneEach) {
    startDevice();
    uint64_t m = mark();
    ASSERT_TRUE(Fakes().playControl("PAUSE"));
    settleAll();
    ASSERT_TRUE(Fakes().playControl(""));
    settleAll();
    // A null text from a malformed call counts as empty rather than ending the process.
    mListener->OnPlayControlEvent(nullptr);
    mListener->OnVolumeChangeEvent(nullptr);
    settleAll();
    EXPECT_EQ(since(m),
              (std::vector<std::string>{"cast:SendPlayCommand[1]", "cast:CastCliSyncVolume[0]"}));
    EXPECT_TRUE(mLog.has("castcontroller: OnPlayControlEvent() Received event PAUSE", LOG_INFO));
    EXPECT_EQ(mLog.count("castcontroller: OnPlayControlEvent() Received event ", LOG_INFO), 3u);
    EXPECT_EQ(mLog.count("castcontroller: HandleOnPlaycontrolEvent() Received Play control event!",
                         LOG_INFO),
              3u);
    EXPECT_TRUE(mLog.has("castcontroller: OnVolumeChangeEvent() Received volume ", LOG_INFO));
}
