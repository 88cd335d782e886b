// The one friend of CastController that tests, fuzz targets and benchmarks share: a class
// has one definition per program, and the tear-down must be the same wherever a controller is
// run against the fakes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "cast/CastControlObserver.h"
#include "core/CastController.h"
#include "core/Constants.h"
#include "device/CastSourceSwitchListener.h"

// Reaches the controller's fields for the tests, the fuzz targets and the benchmarks (a friend
// of CastController).
struct CastControllerPeer {
    static bool& controlConnected(CastController& c) { return c.mControlConnected; }
    static int32_t& multizoneRequestId(CastController& c) { return c.mMultizoneRequestId; }
    static int32_t timezoneRequestId(CastController& c) { return c.mTimezoneRequestId; }
    static void setTimezoneRequestId(CastController& c, int32_t v) { c.mTimezoneRequestId = v; }
    static std::string timezone(CastController& c) { return c.mTimezone; }
    static void setTimezone(CastController& c, const std::string& v) { c.mTimezone = v; }
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
        c.mNowPlaying.appName = info.appName;  // the assignment keeps the record's own
    }
    static std::unordered_map<int32_t, ClientSetRequest>& pending(CastController& c) {
        return c.mPendingRequests;
    }
    static bool stopRequested(CastController& c) {
        std::lock_guard<std::mutex> lock(c.mStopMutex);
        return c.mStopRequested;
    }
    static android::sp<android::ALooper> looper(CastController& c) { return c.mLooper; }
    static void forgetRequests(CastController& c) {
        c.mPendingRequests.clear();
        c.mTimezoneRequestId = -1;
        c.mTimezone.clear();
    }
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
    // test's reference is the last one; the observer goes before the listener.
    static void dismantle(CastController& c) {
        // A version monitor sleeps on the test's clock, which goes with the fixture, and the
        // last reference to the controller may be dropped later on another thread.
        c.StopMonitors();
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
    }
};
