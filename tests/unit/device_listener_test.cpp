// The source-switch listener: the callbacks it installs and the notifications it turns into
// looper messages.
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace {
void Connect() {}
}  // namespace

// The slots and the library's callback variables carry every other device test (the fakes
// call through them); what those do not show is here.
TEST_F(DeviceTest, RegisterWithCastCliLeavesTheConnectVariablesAndHoldsTheListener) {
    OnCastCliConnect = Connect;
    startController();
    EXPECT_EQ(OnCastCliConnect, &Connect);
    OnCastCliConnect = nullptr;
    Fakes().castReady();
    Fakes().drain();
    EXPECT_TRUE(mLog.has("castcontroller: handleOnCliReady() called ++", LOG_INFO));
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
