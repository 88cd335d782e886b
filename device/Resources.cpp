// Who owns the speaker: the clean-up when a cast session ends while cast still has it.
#include <syslog.h>
#include <unistd.h>

#include <functional>
#include <system_error>
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
    RunGuarded(__func__, [] {
        orvix::Log(LOG_INFO, "castcontroller: %s() called ++, TID:%d", "handleOnRequestResources",
                   static_cast<int>(gettid()));
        bool granted = playMySourceCallback ? playMySourceCallback() : false;
        if (!granted) {
            orvix::Log(LOG_ERR,
                       "castcontroller: %s() PlayMySource failed! can't be granted resources!",
                       "handleOnRequestResources");
            return;
        }
        GrantResources();
        gSourceSwitched = false;
        if (setvemovolume) {
            setvemovolume();
        }
    });
}

namespace {

// Starts work on a detached thread so that the caller (the cast library's thread or the
// looper) does not wait for its binder calls. Without a thread to be had the work runs here
// instead: dropping it would leave the service and the receiver out of step for good.
template <class Work>
void RunDetached(const char* who, Work work) {
    auto guarded = [who, work] { RunGuarded(who, work); };
    try {
        std::thread(guarded).detach();
    } catch (const std::system_error& e) {
        orvix::Log(LOG_ERR, "castcontroller: %s() no worker thread (%s), running in place", who,
                   e.what());
        guarded();
    }
}

}  // namespace

void handleOnReleaseResources() {
    RunGuarded(__func__, [] {
        orvix::Log(LOG_INFO, "castcontroller: %s() called ++, TID:%d", "handleOnReleaseResources",
                   static_cast<int>(gettid()));
        // Release worker: reads the flag once and runs the release procedure, nothing else.
        // It carries its own copy of the slot, so the listener lives as long as the worker.
        std::function<void(bool)> release = releaseResourceCallback;
        RunDetached("handleOnReleaseResources", [release] {
            bool switched = gSourceSwitched.load();
            if (release) {
                release(switched);
            }
        });
    });
}

void CastController::HandleSourceSwitchEvent() {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++, TID:%d", __func__,
               static_cast<int>(gettid()));
    // Switch worker: keeps the controller alive until it is done and touches only the
    // listener and cast control (both read under mObjectsMutex) and the atomic flag.
    sp<CastController> self(this);
    RunDetached(__func__, [self] {
        android::SourceSwitchClient::UpdatePlayerState(self->sourceSwitchListener(),
                                                       android::ISourceSwitch::PLAYSTATE_IDLE);
        gSourceSwitched = true;
        if (self->castControl() != nullptr) {
            RevokeResources();
            orvix::Log(LOG_INFO,
                       "castcontroller: HandleSourceSwitchEvent() requested cast to revoke "
                       "resources!");
        }
    });
}
