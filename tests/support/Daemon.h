// The one controller fixture of the unit tests, the fuzz targets and the benchmarks: a
// CastController run the way its thread runs it (looper, bus, Init) over the in-process fakes,
// its log lines captured, and what it did read from the simulated world in one order.
// Nothing here depends on a test framework; every wait has a deadline and says if it missed.
#pragma once

#include <syslog.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "cast/CastControlObserver.h"
#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "device/CastSourceSwitchListener.h"
#include "platform/device/EnvItems.h"
#include "sim/model/World.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"

// The controller's private state, for the fixture only (a friend of CastController).
struct CastControllerPeer {
    static bool& controlConnected(CastController& c) { return c.mControlConnected; }
    static int32_t& multizoneRequestId(CastController& c) { return c.mMultizoneRequestId; }
    static int32_t& timezoneRequestId(CastController& c) { return c.mTimezoneRequestId; }
    static std::string& timezone(CastController& c) { return c.mTimezone; }
    static void setCastLiteVersion(CastController& c, const std::string& v) {
        std::lock_guard<std::mutex> lock(c.mVersionMutex);
        c.mCastLiteVersion = v;
    }
    static NowPlayingInfo nowPlaying(CastController& c) {
        return Locked(c.mNowPlayingMutex, c.mNowPlaying);
    }
    static std::unordered_map<int32_t, ClientSetRequest>& pending(CastController& c) {
        return c.mPendingRequests;
    }
    static bool stopRequested(CastController& c) { return Locked(c.mStopMutex, c.mStopRequested); }
    static int activeMonitors(CastController& c) {
        return Locked(c.mMonitorMutex, c.mActiveMonitors);
    }
    // A copy of value, read under lock.
    template <class T>
    static T Locked(std::mutex& lock, const T& value) {
        std::lock_guard<std::mutex> guard(lock);
        return value;
    }
    static void replaceHandler(CastController& c,
                               const android::sp<android::AHandlerReflector<CastController>>& h);
    static void dismantle(CastController& c);
};

// The remembered cast-status values live for the process (a friend of CastControlObserver).
struct CastControlObserverPeer {
    static void forgetRememberedStatus() { CastControlObserver::ForgetRememberedStatus(); }
};

namespace orvix::test {

using Lines = std::vector<std::string>;

// Every line the daemon logs while it is installed, with its priority.
class LogCapture {
public:
    LogCapture();
    ~LogCapture() { orvix::SetLogSink(nullptr); }
    // Lines containing part (at that priority unless -1).
    size_t count(const std::string& part, int priority = -1) const;
    bool has(const std::string& part, int priority = -1) const { return count(part, priority); }
    bool waitFor(const std::string& part, int priority = -1) const {
        return fakes::WaitFor([&] { return has(part, priority); });
    }
    void clear();

private:
    mutable std::mutex mLock;
    std::vector<std::pair<int, std::string>> mLines;
};

// Sits in the controller handler's place: keeps the fields of each message ({key=value})
// before handing it on, unless its code is swallowed. The fixture's settle marker stops here.
class TapHandler : public android::AHandlerReflector<CastController> {
public:
    explicit TapHandler(CastController* c) : AHandlerReflector(c) {}
    void swallow(std::set<uint32_t> codes);
    // The messages with this code seen since the last call, in order.
    Lines take(uint32_t what);

protected:
    void onMessageReceived(const android::sp<android::AMessage>& msg) override;

private:
    std::mutex mLock;
    std::map<uint32_t, Lines> mTaken;
    std::set<uint32_t> mSwallow;
};

class Daemon {
public:
    Daemon();
    ~Daemon();

    model::World& world() { return fakes::Fakes().world(); }
    CastController& controller() { return *mController; }

    // Looper (with the tap) and bus registration only.
    void startLooperAndBus();
    // Looper, bus and Init, which fails when the receiver refuses "Create"; the observer's
    // reporter has said its first word, so the log is quiet.
    bool start();
    // start(), then one granted request so that the source-switch service knows the
    // listener; from here the workers are waited for too. The log starts empty.
    bool startDevice();
    void useManualClock() {
        android::SetSystemClock(&clock);
        mClockInstalled = true;
    }
    // Takes the controller apart and resets the fakes; false when a worker did not end.
    bool stop();

    // Waits (5 s at most) until the looper has handled everything posted before.
    bool settle();
    // Lets the fakes deliver what is queued and the looper and the workers handle it.
    bool deliver();
    bool post(const android::sp<android::AMessage>& msg);
    // A client payload on MID 571 as the bridge posts it, or a receiver's answer, handled.
    bool request(const std::string& payload);
    bool respond(int32_t requestId, int32_t code);
    bool workersDone();

    // What the daemon did to the world, in the world's order: receiver calls
    // ("cast:SetTimezone[\"UTC\"]=-1", a refusal after '='), source-switch calls
    // ("source:PlayMySource[24]"), bus writes ("bus:572={...}", "bus:90local=Den"), settings
    // ("setting:TimeZone=UTC") and UI updates ("ui:clear", "ui:metadata{...}" with the record).
    // Those from index from on whose text starts with prefix, prefix removed.
    Lines effects(const std::string& prefix = "", size_t from = 0);
    size_t mark() { return effects().size(); }
    void setSetting(const char* key, const std::string& value) {
        world().settings().set(key, value, model::Origin::App);
    }

    LogCapture log;
    fakes::ManualClock clock;
    android::sp<CastController> mController;
    android::sp<TapHandler> tap;

private:
    bool mClockInstalled = false;
    android::sp<CastSourceSwitchListener> mListener;
    int32_t mIdleController = 0;
    int32_t mIdleListener = 0;
};

// One started controller for a whole program (the fuzz targets, the benchmarks), built on first
// use and never destroyed: daemon threads may log or post until the exit hook, which runs before
// the fakes' own, has taken it apart. Aborts when the controller cannot start.
Daemon& SharedDaemon();

}  // namespace orvix::test
