// The daemon's observer of the cast control: turns the library's callbacks into looper
// messages for the controller, reports the player state to the source-switch service and
// publishes the play position on the bus while media plays.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/CastLite.h"
#include "platform/DeviceServices.h"
#include "platform/Foundation.h"

class CastController;

class CastControlObserver : public chromecast::CastControl::Observer, public android::RefBase {
public:
    explicit CastControlObserver(const android::sp<CastController>& controller);
    ~CastControlObserver() override;

    void OnControlConnected() override;
    void OnControlDisconnected() override;
    void OnResponse(int32_t requestId, int32_t castError) override;
    void OnCastStatus(const chromecast::CastStatus& status) override;
    void OnMediaStatus(const chromecast::MediaStatus& status) override;

private:
    friend struct CastControlObserverPeer;  // tests

    // Forgets what earlier cast statuses posted (tests start each case afresh).
    static void ForgetRememberedStatus();
    // The media position in whole seconds, truncated toward zero and kept inside int32.
    static int32_t SecondsOf(double seconds);

    android::sp<android::AMessage> newMessage(uint32_t what) const;
    void HandleMediaMetadata(const chromecast::MediaMetadata& metadata,
                             const android::sp<android::AMessage>& msg);
    void SetCastPlaybackState(int32_t playerState);
    // The play-position reporter's body; runs until the observer is destroyed.
    void HandleCurrentTimeData();
    // Gives the speaker back when the control disconnects while cast is the current source.
    void HandleGracefulCleanup();

    int32_t mLastPlayerState;
    android::sp<CastController> mController;
    android::VEMOHelper* mVemoHelper;
    std::mutex mTimeMutex;
    std::atomic<bool> mReportTime;
    std::atomic<int32_t> mCurrentTimeSec;
    std::condition_variable mTimeCondition;
    std::atomic<bool> mConnected;
    bool mVerboseLog;
    // The reporter has no stop request of its own in normal operation; this one exists so
    // that the observer can be destroyed (tests) without leaving the thread behind.
    bool mStopReporter;  // mTimeMutex
    std::thread mReporter;
};
