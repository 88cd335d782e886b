// The source-switch listener: what it leaves alone, what it holds, and malformed calls.
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

// (Every play-control test goes through the listener; volumes do in the volume tests.)
TEST_F(DeviceTest, ANullTextFromAMalformedCallCountsAsEmpty) {
    startDevice();
    size_t m = mark();
    mListener->OnPlayControlEvent(nullptr);
    mListener->OnVolumeChangeEvent(nullptr);
    deliver();
    EXPECT_EQ(since(m), Names{"cast:CastCliSyncVolume[0]"});
    EXPECT_EQ(mLog.count("castcontroller: HandleOnPlaycontrolEvent() Received Play control event!",
                         LOG_INFO),
              1u);
}

}  // namespace orvix::test
