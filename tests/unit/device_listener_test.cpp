// The source-switch listener: the callbacks it installs and the notifications it turns into
// looper messages.
#include "device/VolumeMute.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace {
void Connect() {}
}  // namespace

TEST_F(DeviceTest, RegisterWithCastCliFillsTheSlotsAndTheLibraryVariables) {
    // The library's connect variables are not the daemon's to set.
    OnCastCliConnect = Connect;
    startController();
    EXPECT_EQ(OnCastCliMuteChange, &handleOnMuteChanges);
    EXPECT_EQ(OnCastCliVolumeChange, &handleOnVolumeChanges);
    EXPECT_EQ(OnRequestResources, &handleOnRequestResources);
    EXPECT_EQ(OnReleaseResources, &handleOnReleaseResources);
    EXPECT_EQ(OnCastCliConnect, &Connect);
    OnCastCliConnect = nullptr;
    Fakes().castReady();
    Fakes().drain();
    EXPECT_TRUE(mLog.has("castcontroller: handleOnCliReady() called ++", LOG_INFO));

    // The grant slot asks for source 24 with the listener and answers what the service says.
    ASSERT_TRUE(playMySourceCallback);
    EXPECT_TRUE(playMySourceCallback());
    EXPECT_TRUE(world().source().hasListener());
    world().source().setGrant(false);
    EXPECT_FALSE(playMySourceCallback());
    EXPECT_EQ(since(0, "source:"), Names(2, "source:PlayMySource[24]"));

    // The release slot holds the listener (the leak checks of the sanitizer builds see that
    // dismantling breaks the cycle).
    sp<CastSourceSwitchListener> listener = mController->sourceSwitchListener();
    int32_t before = listener->getStrongCount();
    releaseResourceCallback = nullptr;
    EXPECT_EQ(listener->getStrongCount(), before - 1);
}

TEST_F(DeviceTest, NotificationsBecomeLooperMessagesOneEach) {
    startDevice();
    size_t m = mark();
    ASSERT_TRUE(Fakes().playControl("PAUSE"));
    deliver();
    ASSERT_TRUE(Fakes().playControl(""));
    deliver();
    // A null text from a malformed call counts as empty rather than ending the process.
    mListener->OnPlayControlEvent(nullptr);
    mListener->OnVolumeChangeEvent(nullptr);
    deliver();
    EXPECT_EQ(since(m), (Names{"cast:SendPlayCommand[1]", "cast:CastCliSyncVolume[0]"}));
    EXPECT_TRUE(mLog.has("castcontroller: OnPlayControlEvent() Received event PAUSE", LOG_INFO));
    EXPECT_EQ(mLog.count("castcontroller: OnPlayControlEvent() Received event ", LOG_INFO), 3u);
    EXPECT_EQ(mLog.count("castcontroller: HandleOnPlaycontrolEvent() Received Play control event!",
                         LOG_INFO),
              3u);
    EXPECT_TRUE(mLog.has("castcontroller: OnVolumeChangeEvent() Received volume ", LOG_INFO));
}

}  // namespace orvix::test
