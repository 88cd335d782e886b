// The in-process device and receiver that unit tests run the daemon against: one
// process-wide model World, plus the threads and the platform objects that carry calls and
// events between it and the daemon the way the real libraries do.
//
// Threads: bus alerts arrive on the "vemo-bus" thread, observer events and callback
// variables on the "cast-lib" thread (one thread each, in order), source-switch
// notifications on binder pool threads. Tests call reset() in SetUp and drain() before
// they look at what a delivery caused.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/device/SourceSwitch.h"
#include "platform/device/VEMOHelper.h"
#include "sim/model/World.h"
#include "tests/fakes/SerialThread.h"

namespace orvix::fakes {

class FakeCastControl;

class FakeWorld {
public:
    // ---- For tests ----

    // Delivers what is queued, drops every listener, observer and callback variable the
    // fakes hold, and puts every model back to its defaults with empty logs.
    void reset();
    model::World& world() { return mWorld; }

    // A device app writes on the bus; alerts go to the registered daemon clients.
    bool appWrite(int32_t mid, const std::string& payload);

    // A source-switch notification the model made (world().source().volume("55")), sent to
    // the known listener; false when there is none or no listener is known yet.
    bool notify(std::optional<model::SourceNotification> notification);

    // A receiver event, recorded, then delivered on the cast library thread: an observer
    // event to the newest live cast control (false when there is none), a callback-variable
    // event to its variable (nothing when the variable is null).
    bool cast(const model::CastEvent& event);

    // Blocks until the bus thread, the cast library thread and the binder work the fakes
    // posted have delivered everything queued so far, including what that delivery queued.
    void drain();

    // From now on the fake platform call named call ("GetEnvItemByName", "SetEnvItemByName")
    // throws what, or a value that is no std::exception when what is empty; "" stops it.
    void throwFrom(const std::string& call, const std::string& what);
    void throwIfTold(const char* call);

    // ---- For the fake platform (tests/fakes) ----

    // Writes through the bus model and queues the alerts in write order.
    bool busWrite(const std::string& client, model::Origin from, model::Scope scope, int32_t mid,
                  const std::string& payload);
    void setBusListener(const std::string& client, const android::sp<android::IVemoAlerts>& l);
    void removeBusClient(const std::string& client);
    // The alert payload readRemoteMessage(mid) answers on the bus thread during an alert.
    static bool alertSnapshot(int32_t mid, std::string* payload);

    void rememberSourceListener(const android::sp<android::ISourceSwitchListener>& listener);

    void attachCastControl(FakeCastControl* control);
    void detachCastControl(FakeCastControl* control);
    // Queues an event (already recorded) for the cast library thread. An observer event goes
    // to the control of this moment only; false when there is none.
    bool postCastEvent(const model::CastEvent& event);

    // Ends the threads (process exit).
    void stopThreads();

private:
    friend FakeWorld& Fakes();
    FakeWorld();

    void deliverAlert(const model::BusAlert& alert);
    void deliverToObserver(const model::CastEvent& event, uint64_t generation);
    void waitBinderIdle();
    void binderWorkDone();

    model::World mWorld;
    SerialThread mBusThread;
    SerialThread mCastThread;
    // Held across a bus write and the queueing of its alerts, so alerts queue in seq order.
    std::mutex mBusOrderLock;
    // Guards the listener, control and binder counters below.
    mutable std::mutex mLock;
    std::condition_variable mBinderIdle;
    std::map<std::string, android::sp<android::IVemoAlerts>> mBusListeners;
    android::sp<android::ISourceSwitchListener> mSourceListener;
    FakeCastControl* mCastControl = nullptr;
    // Bumped by every attach, so an event bound to one control never reaches a later one.
    uint64_t mControlGeneration = 0;
    uint64_t mBinderPosted = 0;
    uint64_t mBinderPending = 0;
    std::string mThrowFrom, mThrowWhat;  // mLock
};

// The process-wide fakes. Made on first use and deliberately never destroyed: daemon threads
// may still call into the fake platform while statics are torn down at exit; its threads
// are stopped from an atexit hook instead.
FakeWorld& Fakes();

}  // namespace orvix::fakes
