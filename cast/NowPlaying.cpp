// The UI manager lookup and the now-playing record.
#include <syslog.h>

#include <cmath>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"

using android::sp;

sp<android::IUIManager> CastController::getInstance() {
    orvix::Log(LOG_ERR, "castcontroller: sp<IVemoTransport> getInstance()");
    // Looked up on every call: the UI manager may come and go while the daemon runs.
    sp<android::IServiceManager> manager = android::defaultServiceManager();
    if (manager == nullptr) {
        return nullptr;
    }
    return android::IUIManager::asInterface(manager->getService(android::IUIManager::kServiceName));
}

void CastController::ClearNowPlaying() {
    std::lock_guard<std::mutex> lock(mNowPlayingMutex);
    mNowPlaying = NowPlayingInfo();
}

namespace {

int32_t FindInt32Or(const sp<android::AMessage>& msg, const char* key, int32_t otherwise) {
    int32_t value = otherwise;
    msg->findInt32(key, &value);
    return value;
}

std::string FindStringOr(const sp<android::AMessage>& msg, const char* key) {
    android::AString value;
    msg->findString(key, &value);
    return value.str();
}

bool Differs(const NowPlayingInfo& a, const NowPlayingInfo& b) {
    return a.trackName != b.trackName || a.album != b.album || a.artist != b.artist ||
           a.coverArt != b.coverArt || a.totalTime != b.totalTime;
}

// Milliseconds as the UI takes them: truncated toward zero and kept inside int32.
int32_t UiMilliseconds(double ms) {
    if (ms >= 2147483647.0) return 2147483647;
    if (ms <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(ms);
}

}  // namespace

void CastController::HandleOnMediaStatus(const sp<android::AMessage>& msg) {
    int32_t playerState = FindInt32Or(msg, kKeyPlayerState, 0);
    int32_t sessionId = FindInt32Or(msg, kKeySessionId, -1);
    int32_t streamType = FindInt32Or(msg, kKeyStreamType, 0);
    double duration = 0.0;
    msg->findDouble(kKeyTotalDuration, &duration);
    std::string artist = FindStringOr(msg, kKeyArtistName);
    std::string track = FindStringOr(msg, kKeyTrackName);
    std::string album = FindStringOr(msg, kKeyAlbumName);
    std::string cover = FindStringOr(msg, kKeyCoverArtUrl);

    if (track.empty()) {
        std::lock_guard<std::mutex> lock(mNowPlayingMutex);
        track = mNowPlaying.appName;
    }
    if (album.empty()) {
        album = FindStringOr(msg, kKeyAlbumArtist);
    }
    if (cover.empty()) {
        cover = kDefaultCoverArt;
    }

    constexpr int32_t kIdle = 1;
    constexpr int32_t kBuffered = 1;
    constexpr int32_t kLive = 2;
    // A live stream keeps its session while it plays; every other stream without a session
    // has ended.
    if (sessionId == 0 && !(streamType == kLive && playerState != kIdle)) {
        orvix::Log(LOG_NOTICE, "castcontroller: %s() Session ID: %d No active cast session!",
                   __func__, 0);
        HandleGracefulCleanUp();
        return;
    }

    NowPlayingInfo info;
    info.trackName = track;
    info.artist = artist;
    info.album = album;
    info.coverArt = cover;
    info.totalTime = (duration > 0.0 && std::isfinite(duration)) ? duration * 1000.0 : -1.0;

    // Compare, show and remember as one step against the release worker's ClearNowPlaying, so
    // the record is never read or written half-way. It does not order this against the
    // release's own UI update, which comes before its clear: a status handled in between can
    // leave its track on the UI with the record empty, and the next status then sends it again.
    std::lock_guard<std::mutex> lock(mNowPlayingMutex);
    bool changed = Differs(info, mNowPlaying);
    bool send = (streamType == kBuffered && info.totalTime > 0 && changed) ||
                (streamType == kLive && changed);
    if (!send) {
        return;
    }
    updateMetadata(info);
    mNowPlaying = info;
}

void CastController::updateMetadata(const NowPlayingInfo& info) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered, duration %lf ms", __func__, info.totalTime);
    sp<android::IUIManager> ui = getInstance();
    if (ui == nullptr) {
        orvix::Log(LOG_ERR, "castcontroller: %s() can not update metadata to UIManager!", __func__);
        return;
    }
    sp<android::AMessage> msg = new android::AMessage();
    msg->setString("album", info.album.c_str(), static_cast<ssize_t>(info.album.size()));
    msg->setString("artist", info.artist.c_str(), static_cast<ssize_t>(info.artist.size()));
    msg->setString("coverArt", info.coverArt.c_str(), static_cast<ssize_t>(info.coverArt.size()));
    msg->setInt32("playState", 0);
    msg->setInt32("totalTime", UiMilliseconds(info.totalTime));
    msg->setString("trackName", info.trackName.c_str(),
                   static_cast<ssize_t>(info.trackName.size()));
    msg->setInt32("next", 1);
    msg->setInt32("prev", 1);
    msg->setInt32("repeat", -1);
    msg->setInt32("shuffle", -1);
    msg->setInt32("seek", 0);
    msg->setInt32("currentSource", kCastSourceType);
    ui->UpdateMetadata(msg);
}
