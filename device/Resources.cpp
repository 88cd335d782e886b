// Who owns the speaker: the clean-up when a cast session ends while cast still has it.
#include <syslog.h>
#include <unistd.h>

#include <thread>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "device/CastSourceSwitchListener.h"
#include "device/VolumeMute.h"

using android::sp;

void CastController::HandleGracefulCleanUp() {
    bool switched = gSourceSwitched.load();
    std::string source;
    if (mVemoHelper != nullptr) {
        mVemoHelper->readRemoteMessage(kMidCurrentSource, source);
    }
    if (source == std::to_string(kCastSourceType) && !switched) {
        sp<android::IUIManager> ui = getInstance();
        if (ui != nullptr) {
            ui->UpdateSourceRelease(new android::AMessage());
        }
        ClearNowPlaying();
    }
    orvix::Log(LOG_NOTICE, "castcontroller: %s() Current source ID:%s, Source switch ?:%s",
               __func__, source.c_str(), switched ? "Yes" : "No");
}

void handleOnRequestResources() {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++, TID:%d", __func__,
               static_cast<int>(gettid()));
    bool granted = playMySourceCallback ? playMySourceCallback() : false;
    if (!granted) {
        orvix::Log(LOG_ERR, "castcontroller: %s() PlayMySource failed! can't be granted resources!",
                   __func__);
        return;
    }
    GrantResources();
    gSourceSwitched = false;
    if (setvemovolume) {
        setvemovolume();
    }
}

void handleOnReleaseResources() {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++, TID:%d", __func__,
               static_cast<int>(gettid()));
    // The library's thread must not wait for the binder calls of the release.
    std::thread([] {
        bool switched = gSourceSwitched.load();
        if (releaseResourceCallback) {
            releaseResourceCallback(switched);
        }
    }).detach();
}

void CastController::HandleSourceSwitchEvent() {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++, TID:%d", __func__,
               static_cast<int>(gettid()));
    // The worker keeps the controller alive until it is done; the looper goes on at once.
    sp<CastController> self(this);
    std::thread([self] {
        android::SourceSwitchClient::UpdatePlayerState(self->sourceSwitchListener(),
                                                       android::ISourceSwitch::PLAYSTATE_IDLE);
        gSourceSwitched = true;
        if (self->castControl() != nullptr) {
            RevokeResources();
            orvix::Log(LOG_INFO,
                       "castcontroller: HandleSourceSwitchEvent() requested cast to revoke "
                       "resources!");
        }
    }).detach();
}
