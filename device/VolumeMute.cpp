#include "device/VolumeMute.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "core/CastController.h"
#include "core/Log.h"
#include "core/Messages.h"

namespace {
constexpr int kDefaultVolume = 30;

int ClampVolume(int volume) {
    return std::min(100, std::max(0, volume));
}
}  // namespace

int ConvertStringtoInteger(const std::string& text, bool useDefault) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long result = std::strtol(start, &end, 10);
    // Text the number does not use up is unusable as a volume.
    if (end == nullptr || *end != '\0' || static_cast<size_t>(end - start) != text.size()) {
        orvix::Log(LOG_ERR,
                   "castcontroller: %s() String to Integer Volume conversion Failed!          "
                   "      Using default volume : 30",
                   __func__);
        if (!useDefault) return -1;
        result = kDefaultVolume;
    }
    // Compared unsigned so that negative numbers (and overflows) count as too large.
    if (static_cast<unsigned long>(result) > 100UL) {
        orvix::Log(LOG_ERR,
                   "castcontroller: %s() Volume bound check failed, Ignore volume!            "
                   "    using default volume:30",
                   __func__);
        return useDefault ? kDefaultVolume : -1;
    }
    return static_cast<int>(result);
}

void ReportVolumeMute(const int& mid, const std::string& payload, VolumeMediaType type) {
    orvix::Log(LOG_INFO, "castcontroller: onVolumeMuteCallback() MID %d buffer %s", mid,
               payload.c_str());
    if (mid == kMidMute) {
        bool muted = payload == "MUTE";
        gCastMuted = muted;
        if (type == kVolumeFromCast) {
            orvix::Log(LOG_INFO,
                       "castcontroller: onVolumeMuteCallback() MID %d buffer %s state %d type %d",
                       mid, payload.c_str(), muted ? 1 : 0, static_cast<int>(type));
        }
        android::SourceSwitchClient::UpdateAppMuteStat(muted);
    } else {
        android::SourceSwitchClient::UpdateAppVolume(payload);
    }
}

void SyncDeviceVolumeToCast(android::VEMOHelper* bus) {
    std::string text;
    if (bus != nullptr) {
        bus->readRemoteMessage(kMidVolume, text);
    }
    if (text.empty()) {
        text = "30";
    }
    int volume = ConvertStringtoInteger(text, true);
    CastCliSyncVolume(volume);
    orvix::Log(LOG_INFO, "castcontroller: setvemovolume() setting device volume:%d to cast CLI",
               volume);
}

void LogCallbackFailure(const char* who, const char* what) {
    orvix::Log(LOG_ERR, "castcontroller: %s() stopped by an exception: %s", who, what);
}

void handleOnVolumeChanges(int volume) {
    RunGuarded(__func__, [volume] {
        orvix::Log(LOG_INFO, "castcontroller: %s() called ++, volume %d TID:%d",
                   "handleOnVolumeChanges", volume, static_cast<int>(gettid()));
        if (onVolumeMuteCallback) {
            onVolumeMuteCallback(kMidVolume, std::to_string(ClampVolume(volume)), kVolumeFromCast);
        }
    });
}

void handleOnMuteChanges(int mute) {
    RunGuarded(__func__, [mute] {
        orvix::Log(LOG_INFO, "castcontroller: %s() called ++, volume %d TID:%d",
                   "handleOnMuteChanges", mute, static_cast<int>(gettid()));
        if (mute != 0 && mute != 1) {
            orvix::Log(LOG_ERR, "castcontroller: %s() invalid volume level %d",
                       "handleOnMuteChanges", mute);
            return;
        }
        if (onVolumeMuteCallback) {
            onVolumeMuteCallback(kMidMute, mute == 1 ? "MUTE" : "UNMUTE", kVolumeFromCast);
        }
    });
}

void CastController::HandleOnVolumeEvent(const android::sp<android::AMessage>& msg) {
    int32_t volume = 0;
    msg->findInt32(kKeyVolumeEventData, &volume);
    orvix::Log(LOG_INFO, "castcontroller: %s() called, received volume data %d", __func__, volume);
    if (castControl() == nullptr) {
        return;
    }
    if (gCastMuted) {
        CastCliSyncMute(0);
        // A fixed command; its status is not looked at.
        int status = system(kUnmuteCommand.c_str());
        (void)status;
        if (onVolumeMuteCallback) {
            onVolumeMuteCallback(kMidMute, "UNMUTE", kVolumeFromDevice);
        }
    } else {
        orvix::Log(LOG_ERR, "castcontroller: %s() Alsa mixer is in UNMUTE state", __func__);
    }
    CastCliSyncVolume(ClampVolume(volume));
}
