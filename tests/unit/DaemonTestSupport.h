// What the daemon's tests share: a capture of the log lines, access to the controller's
// fields, and a fixture that runs a controller against the fakes.
#pragma once

#include <gtest/gtest.h>
#include <syslog.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cast/CastControlObserver.h"
#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "device/CastSourceSwitchListener.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"

namespace orvix::test {

struct LogLine {
    int priority;
    std::string text;
};

// Every line the daemon logs while it is installed.
class LogCapture {
public:
    LogCapture() {
        orvix::SetLogSink([this](int priority, const std::string& text) {
            std::lock_guard<std::mutex> lock(mLock);
            mLines.push_back({priority, text});
        });
    }
    ~LogCapture() { orvix::SetLogSink(nullptr); }

    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mLines;
    }
    // Lines whose text contains part (at the given priority, or any with -1).
    size_t count(const std::string& part, int priority = -1) const {
        size_t n = 0;
        for (const LogLine& line : lines()) {
            if (line.text.find(part) != std::string::npos &&
                (priority < 0 || line.priority == priority)) {
                ++n;
            }
        }
        return n;
    }
    bool has(const std::string& text, int priority = -1) const { return count(text, priority); }
    bool waitFor(const std::string& part, int priority = -1) const {
        return fakes::WaitFor([&] { return has(part, priority); });
    }
    // Index of the first line containing part, or -1.
    int indexOf(const std::string& part) const {
        std::vector<LogLine> all = lines();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].text.find(part) != std::string::npos) return static_cast<int>(i);
        }
        return -1;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mLock);
        mLines.clear();
    }

private:
    mutable std::mutex mLock;
    std::vector<LogLine> mLines;
};

}  // namespace orvix::test

// Reaches the controller's fields for the tests (a friend of CastController).
struct CastControllerPeer {
    static bool controlConnected(CastController& c) { return c.mControlConnected; }
    static void setControlConnected(CastController& c, bool v) { c.mControlConnected = v; }
    static int32_t multizoneRequestId(CastController& c) { return c.mMultizoneRequestId; }
    static void setMultizoneRequestId(CastController& c, int32_t v) { c.mMultizoneRequestId = v; }
    static int32_t timezoneRequestId(CastController& c) { return c.mTimezoneRequestId; }
    static void setTimezoneRequestId(CastController& c, int32_t v) { c.mTimezoneRequestId = v; }
    static std::string timezone(CastController& c) { return c.mTimezone; }
    static void setTimezone(CastController& c, const std::string& v) { c.mTimezone = v; }
    static std::string castLiteVersion(CastController& c) {
        std::lock_guard<std::mutex> lock(c.mVersionMutex);
        return c.mCastLiteVersion;
    }
    static void setCastLiteVersion(CastController& c, const std::string& v) {
        std::lock_guard<std::mutex> lock(c.mVersionMutex);
        c.mCastLiteVersion = v;
    }
    static NowPlayingInfo nowPlaying(CastController& c) {
        std::lock_guard<std::mutex> lock(c.mNowPlayingMutex);
        return c.mNowPlaying;
    }
    static void setNowPlaying(CastController& c, const NowPlayingInfo& info) {
        std::lock_guard<std::mutex> lock(c.mNowPlayingMutex);
        c.mNowPlaying = info;
        c.mNowPlaying.appName = info.appName;
    }
    static std::unordered_map<int32_t, ClientSetRequest>& pending(CastController& c) {
        return c.mPendingRequests;
    }
    static bool stopRequested(CastController& c) {
        std::lock_guard<std::mutex> lock(c.mStopMutex);
        return c.mStopRequested;
    }
    static std::vector<int32_t> vemoMids(CastController& c) {
        return std::vector<int32_t>(c.mVemoMids.begin(), c.mVemoMids.end());
    }
    static android::sp<android::ALooper> looper(CastController& c) { return c.mLooper; }
    // Puts handler in the place of the one StartALooper registered, before anything posts.
    static void replaceHandler(
        CastController& c, const android::sp<android::AHandlerReflector<CastController>>& handler) {
        c.mLooper->unregisterHandler(c.mHandler->id());
        c.mLooper->registerHandler(handler);
        c.mHandler = handler;
    }
    static int activeMonitors(CastController& c) {
        std::lock_guard<std::mutex> lock(c.mMonitorMutex);
        return c.mActiveMonitors;
    }
    // Breaks the reference cycles of a controller (observer, listener, slots) so that the
    // test's reference is the last one.
    static void dismantle(CastController& c) {
        releaseResourceCallback = nullptr;
        playMySourceCallback = nullptr;
        setvemovolume = nullptr;
        onVolumeMuteCallback = nullptr;
        std::shared_ptr<CastControlObserver> observer;
        android::sp<CastSourceSwitchListener> listener;
        {
            std::lock_guard<std::mutex> lock(c.mObjectsMutex);
            observer = std::move(c.mObserver);
            listener = std::move(c.mSourceSwitchListener);
            c.mCastControl.reset();
        }
        observer.reset();
        listener.clear();
    }
};

namespace orvix::test {

// A controller set up on the test thread the way its thread would (looper, bus, Init), over
// freshly reset fakes, with its log lines captured. Tests drive it with real looper messages
// (fakes events) or direct handler calls.
class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakes::Fakes().reset();
        gSourceSwitched = false;
        gCastMuted = false;
    }

    void TearDown() override { destroyController(); }

    // Looper and bus registration only.
    android::sp<CastController> startLooperAndBus() {
        mController = new CastController();
        mController->StartALooper();
        mController->RegisterWithVemo();
        return mController;
    }

    // Looper, bus and Init: the cast control, observer and listener exist.
    android::sp<CastController> startController() {
        startLooperAndBus();
        EXPECT_TRUE(mController->Init());
        // The observer's reporter thread says hello once; let it, so tests see a quiet log.
        EXPECT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
        return mController;
    }

    void destroyController() {
        if (mController == nullptr) return;
        fakes::Fakes().drain();
        CastControllerPeer::dismantle(*mController);
        fakes::Fakes().reset();
        mController.clear();
    }

    // Posts msg to the controller's looper and waits until it and everything before it ran.
    void postAndSettle(const android::sp<android::AMessage>& msg) {
        msg->setTarget(mController->handlerId());
        msg->post();
        settle();
    }

    // Waits until the looper has handled everything posted so far: a marker posted to a
    // handler of our own on the controller's looper runs after all of it.
    void settle() {
        android::sp<Marker> marker = new Marker();
        CastControllerPeer::looper(*mController)->registerHandler(marker);
        android::sp<android::AMessage> msg = new android::AMessage(0, marker->id());
        msg->post();
        ASSERT_TRUE(fakes::WaitFor([&] { return marker->seen(); }));
        CastControllerPeer::looper(*mController)->unregisterHandler(marker->id());
    }

    class Marker : public android::AHandler {
    public:
        bool seen() const { return mSeen; }

    protected:
        void onMessageReceived(const android::sp<android::AMessage>&) override { mSeen = true; }

    private:
        std::atomic<bool> mSeen{false};
    };

    model::World& world() { return fakes::Fakes().world(); }

    LogCapture mLog;
    android::sp<CastController> mController;
};

}  // namespace orvix::test
