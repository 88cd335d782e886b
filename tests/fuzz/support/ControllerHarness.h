// One controller over the in-process fakes for a whole fuzzing run. It is built on first use
// the way the controller thread builds it (looper, bus registration, Init), and taken apart at
// exit before the fakes stop their threads, so that the leak check at exit sees a clean end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/CastController.h"
#include "sim/model/World.h"
#include "tests/fuzz/support/LogCapture.h"

namespace orvix::fuzz {

class ControllerHarness {
public:
    static ControllerHarness& Get();

    CastController& controller() { return *mController; }
    model::World& world();
    LogCapture& log() { return *mLog; }

    // Sends msg to the controller's handler and waits until the looper has handled it.
    void post(const android::sp<android::AMessage>& msg);
    // Waits until the looper has handled everything posted so far. A looper that does not
    // get there within seconds is a hang, reported as a crash.
    void settle();
    // Lets the fakes deliver what the looper's work caused (receiver responses, bus alerts,
    // binder notifications) and the looper handle what those posted in turn.
    void quiesce();

    // The looper-thread state one request leaves behind for the next, put back to what a
    // fresh controller has. Only between inputs, with the looper idle.
    void forgetRequests();

private:
    class Marker;

    ControllerHarness();
    void start();
    void stop();

    LogCapture* mLog;
    android::sp<CastController> mController;
    android::sp<Marker> mMarker;
    std::mutex mLock;
    std::condition_variable mSeen;
    uint64_t mPosted = 0;
    uint64_t mHandled = 0;  // mLock
};

}  // namespace orvix::fuzz
