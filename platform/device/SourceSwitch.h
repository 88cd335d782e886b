// The audio source-switch service: who owns the speaker.
#pragma once

#include <cstdint>
#include <string>

#include "platform/android/Binder.h"
#include "platform/android/RefBase.h"

namespace android {

class ISourceSwitch {
public:
    enum EPlayState {
        PLAYSTATE_PLAYING = 0,
        PLAYSTATE_IDLE = 1,
        PLAYSTATE_PAUSED = 2,
        PLAYSTATE_STOPPED = 3,
        PLAYSTATE_ERROR = 4,
        PLAYSTATE_BUFFERING = 5,
    };
};

// What the service calls back on: the source was switched away, a play-control event,
// a volume event. Arguments are NUL-terminated texts.
class ISourceSwitchListener : public IInterface {
public:
    static const String16 descriptor;

    enum sourcetype : int32_t { SOURCE_NONE = 0, SOURCE_CAST = 24 };

    enum {
        TRANSACTION_SOURCE_SWITCH = IBinder::FIRST_CALL_TRANSACTION,
        TRANSACTION_PLAY_CONTROL,
        TRANSACTION_VOLUME_CHANGE,
    };

    virtual void OnSourceSwitchEvent() = 0;
    virtual void OnPlayControlEvent(const char* event) = 0;
    virtual void OnVolumeChangeEvent(const char* volume) = 0;
};

class BnSourceSwitchListener : public BnInterface<ISourceSwitchListener> {
public:
    status_t onTransact(uint32_t code, const Parcel& data, Parcel* reply,
                        uint32_t flags = 0) override;
};

class SourceSwitchClient {
public:
    // True when the service hands the speaker to the caller's source.
    static bool PlayMySource(const sp<ISourceSwitchListener>& listener,
                             ISourceSwitchListener::sourcetype source);
    static int32_t UpdatePlayerState(const sp<ISourceSwitchListener>& listener,
                                     ISourceSwitch::EPlayState state);
    static int32_t NotifyPlaybackStopped(const sp<ISourceSwitchListener>& listener);
    static int32_t DisconnectMySource(const sp<ISourceSwitchListener>& listener);
    static int32_t UpdateAppVolume(std::string volume);
    static int32_t UpdateAppMuteStat(bool muted);
};

}  // namespace android
