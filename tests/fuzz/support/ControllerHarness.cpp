#include "tests/fuzz/support/ControllerHarness.h"

#include <chrono>
#include <cstdlib>
#include <memory>

#include "cast/CastControlObserver.h"
#include "core/Constants.h"
#include "device/CastSourceSwitchListener.h"
#include "platform/android/ALooper.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fuzz/support/Check.h"
#include "tests/unit/CastControllerPeer.h"

namespace orvix::fuzz {

// Counts what reached the looper: whatever was posted before a marker has been handled once
// the marker has.
class ControllerHarness::Marker : public android::AHandler {
public:
    explicit Marker(ControllerHarness* owner) : mOwner(owner) {}

protected:
    void onMessageReceived(const android::sp<android::AMessage>&) override {
        {
            std::lock_guard<std::mutex> lock(mOwner->mLock);
            ++mOwner->mHandled;
        }
        mOwner->mSeen.notify_all();
    }

private:
    ControllerHarness* const mOwner;
};

ControllerHarness& ControllerHarness::Get() {
    // Never destroyed: daemon threads may log or post until the exit hook has stopped them.
    static ControllerHarness* const harness = [] {
        fakes::Fakes();  // its exit hook first, so that ours runs before it
        auto* made = new ControllerHarness();
        made->start();
        std::atexit([] { Get().stop(); });
        return made;
    }();
    return *harness;
}

ControllerHarness::ControllerHarness() : mLog(new LogCapture()) {}

model::World& ControllerHarness::world() {
    return fakes::Fakes().world();
}

void ControllerHarness::start() {
    fakes::Fakes().reset();
    gSourceSwitched = false;
    gCastMuted = false;
    mController = new CastController();
    mController->StartALooper();
    mController->RegisterWithVemo();
    FUZZ_CHECK(mController->Init(), "the controller did not start over the fakes");
    mMarker = new Marker(this);
    CastControllerPeer::looper(*mController)->registerHandler(mMarker);
    fakes::Fakes().drain();
    settle();
}

void ControllerHarness::stop() {
    if (mController == nullptr) return;
    fakes::Fakes().drain();
    settle();
    CastControllerPeer::looper(*mController)->unregisterHandler(mMarker->id());
    CastControllerPeer::dismantle(*mController);
    fakes::Fakes().reset();
    mController.clear();
    mMarker.clear();
}

void ControllerHarness::post(const android::sp<android::AMessage>& msg) {
    msg->setTarget(mController->handlerId());
    msg->post();
    settle();
}

void ControllerHarness::settle() {
    uint64_t ticket = ++mPosted;
    android::sp<android::AMessage> marker = new android::AMessage(0, mMarker->id());
    marker->post();
    std::unique_lock<std::mutex> lock(mLock);
    bool handled = mSeen.wait_for(lock, std::chrono::seconds(5),
                                  [this, ticket] { return mHandled >= ticket; });
    FUZZ_CHECK(handled, "the controller's looper did not get through its messages in 5 s");
}

void ControllerHarness::quiesce() {
    settle();
    fakes::Fakes().drain();
    settle();
}

void ControllerHarness::forgetRequests() {
    CastControllerPeer::forgetRequests(*mController);
}

}  // namespace orvix::fuzz
