#include "cast/CastControlObserver.h"

#include <syslog.h>

#include <string>

#include "cast/ObserverNames.h"
#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "device/CastSourceSwitchListener.h"

using android::AMessage;
using android::sp;

namespace {

// No media status has been seen yet. Every real player state differs from it, so the first
// status always reports its player state to the source-switch service and the controller.
constexpr int32_t kPlayerStateUnknown = -1;

// What the last cast status posted, for the life of the process: only changes go on.
struct RememberedStatus {
    std::string castName;
    std::string buildNumber;
    std::string locale;
    std::string timezone;
    int32_t usageReport = 0;
};

RememberedStatus& Remembered() {
    static RememberedStatus* remembered = new RememberedStatus();  // outlives every callback
    return *remembered;
}

// Puts value under key when it is set and differs from what was last posted.
void updateCastStatus(const char* value, std::string& remembered, const char* key,
                      const sp<AMessage>& msg) {
    if (value == nullptr || remembered == value) {
        return;
    }
    remembered = value;
    msg->setString(key, value);
    orvix::Log(LOG_INFO, "castobserver: updateCastStatus() key:%s value:%s", key, value);
}

}  // namespace

CastControlObserver::CastControlObserver(const sp<CastController>& controller)
    : mLastPlayerState(kPlayerStateUnknown),
      mController(controller),
      mVemoHelper(nullptr),
      mReportTime(false),
      mCurrentTimeSec(0),
      mConnected(false),
      mVerboseLog(false),
      mStopReporter(false) {
    orvix::Log(LOG_INFO, "castobserver: %s() Cast control observer instance created", __func__);
    mVemoHelper = new android::VEMOHelper();
    while (!mVemoHelper->verifyConnection_l()) {
        android::SleepUs(3000000);
    }
    mReporter = std::thread(&CastControlObserver::HandleCurrentTimeData, this);
}

CastControlObserver::~CastControlObserver() {
    orvix::Log(LOG_INFO, "castobserver: %s() Entered ", "~CastControlObserver");
    {
        std::lock_guard<std::mutex> lock(mTimeMutex);
        mStopReporter = true;
        mReportTime = false;
    }
    mTimeCondition.notify_all();
    if (mReporter.joinable()) {
        mReporter.join();
    }
    delete mVemoHelper;
    mController.clear();
}

void CastControlObserver::ForgetRememberedStatus() {
    Remembered() = RememberedStatus();
}

sp<AMessage> CastControlObserver::newMessage(uint32_t what) const {
    return new AMessage(what, mController->handlerId());
}

void CastControlObserver::OnControlConnected() {
    newMessage(kWhatControlConnected)->post();
    mConnected = true;
    orvix::Log(LOG_INFO, "castobserver: %s() Handle cast status from now on!", __func__);
}

void CastControlObserver::OnControlDisconnected() {
    newMessage(kWhatControlDisconnected)->post();
    mConnected = false;
    // No lock and no wake-up: the reporter sees it at its next tick and sends a last position.
    mReportTime = false;
    HandleGracefulCleanup();
}

void CastControlObserver::OnResponse(int32_t requestId, int32_t castError) {
    orvix::Log(LOG_INFO, "castobserver: %s() Received response for request id %d, cast error %d ",
               __func__, requestId, castError);
    sp<AMessage> msg = newMessage(kWhatCastResponse);
    msg->setInt32(kKeyRequestId, requestId);
    msg->setInt32(kKeyResultMsg, castError);
    msg->post();
}

void CastControlObserver::OnCastStatus(const chromecast::CastStatus& status) {
    orvix::Log(LOG_DEBUG, "castobserver: %s() called ++", __func__);
    if (static_cast<uint32_t>(status.castState) <= 1) {
        orvix::Log(LOG_ERR, "castobserver: %s() Ignoring unknown and starting state!", __func__);
        return;
    }
    if (!mConnected) {
        orvix::Log(LOG_ERR, "castobserver: %s() Ignore as Cast control not connected! state:%d",
                   __func__, mConnected ? 1 : 0);
        return;
    }
    sp<AMessage> msg = newMessage(kWhatCastStatus);
    RememberedStatus& remembered = Remembered();
    updateCastStatus(status.name, remembered.castName, kKeyCastName, msg);
    updateCastStatus(status.buildNumber, remembered.buildNumber, kKeyBuildNumber, msg);
    updateCastStatus(status.locale, remembered.locale, kKeyLocale, msg);
    updateCastStatus(status.timezone, remembered.timezone, kKeyTimezone, msg);
    if (status.runningApp != nullptr && status.runningApp->appName != nullptr) {
        msg->setString(kKeyCastAppName, status.runningApp->appName);
    }
    int32_t usageReport = status.usageReport ? 1 : 0;
    if (usageReport != remembered.usageReport) {
        remembered.usageReport = usageReport;
        msg->setInt32(kKeyUsageReport, usageReport);
    }
    if (msg->countEntries() == 0) {
        orvix::Log(LOG_INFO, "castobserver: %s() No changes to post cast status data!", __func__);
        return;
    }
    orvix::Log(LOG_INFO, "castobserver: %s() Cast state:%d", __func__, status.castState);
    msg->post();
}

void CastControlObserver::OnMediaStatus(const chromecast::MediaStatus& status) {
    orvix::Log(LOG_DEBUG, "castobserver: %s() Called ++ ", __func__);
    sp<AMessage> msg = newMessage(kWhatMediaStatus);

    mCurrentTimeSec = SecondsOf(status.currentTime);
    if (status.playerState == 2 && status.currentTime > 0.0) {
        std::lock_guard<std::mutex> lock(mTimeMutex);
        mReportTime = true;
        mTimeCondition.notify_one();
    } else {
        mReportTime = false;
    }

    if (status.playerState != mLastPlayerState) {
        mLastPlayerState = status.playerState;
        msg->setInt32(kKeyPlayerState, status.playerState);
        SetCastPlaybackState(status.playerState);
        mVerboseLog = true;
    }
    if (status.idleReason != 4) {
        orvix::Log(LOG_INFO, "castobserver: %s() idle reason: %s", __func__,
                   IdleReasonName(status.idleReason));
    }
    if (mVerboseLog) {
        orvix::Log(LOG_INFO, "castobserver: %s() player state %s, current time %lf seconds",
                   __func__, PlayerStateName(status.playerState), status.currentTime);
    }
    if (status.mediaInfo != nullptr) {
        const chromecast::MediaInfo& info = *status.mediaInfo;
        msg->setInt32(kKeyStreamType, info.streamType);
        msg->setDouble(kKeyTotalDuration, info.duration);
        if (mVerboseLog) {
            orvix::Log(LOG_INFO, "castobserver: %s() media stream type %s media duration %lf",
                       __func__, StreamTypeName(info.streamType), info.duration);
        }
        if (info.metadata != nullptr) {
            const chromecast::MediaMetadata& metadata = *info.metadata;
            const char* url = nullptr;
            if (metadata.imageCount >= 1 && metadata.images != nullptr) {
                url = metadata.images[0].url;
            }
            msg->setString(kKeyCoverArtUrl, url != nullptr ? url : "");
            HandleMediaMetadata(metadata, msg);
        }
    }
    if (status.mediaSessionId == 0) {
        msg->setInt32(kKeySessionId, 0);
    }
    if (msg->countEntries() > 0) {
        msg->post();
    }
}

int32_t CastControlObserver::SecondsOf(double seconds) {
    // Truncation toward zero; a position a receiver cannot mean (NaN, beyond int32) is kept
    // inside the range instead of being undefined.
    if (!(seconds == seconds)) return 0;
    if (seconds >= 2147483647.0) return 2147483647;
    if (seconds <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(seconds);
}

void CastControlObserver::HandleMediaMetadata(const chromecast::MediaMetadata& metadata,
                                              const sp<AMessage>& msg) {
    if (mVerboseLog) {
        orvix::Log(LOG_DEBUG, "castobserver: %s() Entered ++", __func__);
    }
    if (metadata.title != nullptr) {
        if (mVerboseLog) {
            orvix::Log(LOG_NOTICE, "castobserver: %s() Title --> %s ", __func__, metadata.title);
        }
        msg->setString(kKeyTrackName, metadata.title);
    }
    if (metadata.metadataType == 3) {
        const chromecast::MusicTrackMediaMetadata* track = metadata.musicTrack;
        if (track != nullptr && track->albumName != nullptr) {
            if (mVerboseLog) {
                orvix::Log(LOG_NOTICE, "castobserver: %s() Album --> %s", __func__,
                           track->albumName);
            }
            msg->setString(kKeyAlbumName, track->albumName);
        }
        if (track != nullptr && track->albumArtist != nullptr) {
            if (mVerboseLog) {
                orvix::Log(LOG_NOTICE, "castobserver: %s() Album Artist --> %s", __func__,
                           track->albumArtist);
            }
            msg->setString(kKeyAlbumArtist, track->albumArtist);
        }
        if (track != nullptr && track->artist != nullptr) {
            if (mVerboseLog) {
                orvix::Log(LOG_NOTICE, "castobserver: %s() Artist--> %s", __func__, track->artist);
            }
            msg->setString(kKeyArtistName, track->artist);
        }
    } else {
        orvix::Log(LOG_ERR, "castobserver: %s() Metadata type %d not handled!", __func__,
                   metadata.metadataType);
    }
    mVerboseLog = false;
}

void CastControlObserver::SetCastPlaybackState(int32_t playerState) {
    orvix::Log(LOG_INFO, "castobserver: %s() playback state %s", __func__,
               PlayerStateName(playerState));
    android::ISourceSwitch::EPlayState state;
    switch (playerState) {
        case 0:
            return;
        case 1:
            state = android::ISourceSwitch::PLAYSTATE_IDLE;
            break;
        case 2:
            state = android::ISourceSwitch::PLAYSTATE_PLAYING;
            break;
        case 3:
            state = android::ISourceSwitch::PLAYSTATE_PAUSED;
            break;
        default:
            state = android::ISourceSwitch::PLAYSTATE_BUFFERING;
            break;
    }
    android::SourceSwitchClient::UpdatePlayerState(mController->sourceSwitchListener(), state);
}

void CastControlObserver::HandleCurrentTimeData() {
    orvix::Log(LOG_INFO, "castobserver: %s() Entered ++ ", __func__);
    std::unique_lock<std::mutex> lock(mTimeMutex);
    while (!mStopReporter) {
        mTimeCondition.wait(lock, [this] { return mReportTime || mStopReporter; });
        while (mReportTime && !mStopReporter) {
            int64_t seconds = mCurrentTimeSec.load();
            mCurrentTimeSec.fetch_add(1);
            // The tick runs from before the write, so a position is published every second
            // however long the bus takes, and whoever sees a write knows when the next is due.
            // Only the observer's destruction cuts it short.
            int64_t deadline = android::SystemClock().nowUs() + 1000000;
            lock.unlock();
            mVemoHelper->writeRemoteMessage(kMidPlayPosition, std::to_string(seconds * 1000), 0);
            lock.lock();
            while (!mStopReporter && android::SystemClock().nowUs() < deadline) {
                android::SystemClock().waitUntil(mTimeCondition, lock, deadline);
            }
        }
        if (mStopReporter) {
            break;
        }
        int64_t seconds = mCurrentTimeSec.load();
        lock.unlock();
        mVemoHelper->writeRemoteMessage(kMidPlayPosition,
                                        std::to_string(seconds < 0 ? 0 : seconds * 1000), 0);
        lock.lock();
    }
}

void CastControlObserver::HandleGracefulCleanup() {
    orvix::Log(LOG_INFO, "castobserver: %s() Entered ++", __func__);
    std::string source;
    mVemoHelper->readRemoteMessage(kMidCurrentSource, source);
    if (source.empty() || source == "0") {
        orvix::Log(LOG_NOTICE, "castobserver: Current Source : %s, ignore clean up!",
                   source.c_str());
        return;
    }
    if (source == std::to_string(kCastSourceType)) {
        sp<android::ISourceSwitchListener> listener = mController->sourceSwitchListener();
        android::SourceSwitchClient::UpdatePlayerState(listener,
                                                       android::ISourceSwitch::PLAYSTATE_IDLE);
        android::SourceSwitchClient::DisconnectMySource(listener);
    }
}
