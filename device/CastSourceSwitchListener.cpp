#include "device/CastSourceSwitchListener.h"

#include <syslog.h>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "device/VolumeMute.h"

using android::AMessage;
using android::sp;

namespace {

void handleOnCliReady() {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++", __func__);
}

}  // namespace

CastSourceSwitchListener::CastSourceSwitchListener(const sp<CastController>& controller)
    : mController(controller) {
    orvix::Log(LOG_INFO, "castcontroller: %s() cast listener instance created ++ ", __func__);
}

CastSourceSwitchListener::~CastSourceSwitchListener() {
    orvix::Log(LOG_INFO, "castcontroller: CastSourceSwitchListener::%s() called ++",
               "~CastSourceSwitchListener");
    mController.clear();
}

void CastSourceSwitchListener::RegisterWithCastCli() {
    // The slots are filled before the library's variables, so a library callback never finds
    // a slot empty.
    sp<CastSourceSwitchListener> self(this);
    releaseResourceCallback = [self](bool switched) { self->ReleaseResources(switched); };
    CastSourceSwitchListener* plain = this;
    playMySourceCallback = [plain]() {
        sp<android::ISourceSwitchListener> listener(plain);
        const auto source =
            static_cast<android::ISourceSwitchListener::sourcetype>(kCastSourceType);
        return android::SourceSwitchClient::PlayMySource(listener, source);
    };
    OnCastCliMuteChange = handleOnMuteChanges;
    OnCastCliVolumeChange = handleOnVolumeChanges;
    OnCastCliReady = handleOnCliReady;
    OnRequestResources = handleOnRequestResources;
    OnReleaseResources = handleOnReleaseResources;
}

void CastSourceSwitchListener::OnSourceSwitchEvent() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Source Switched!!", __func__);
    sp<AMessage> msg = new AMessage(kWhatSourceSwitch, mController->handlerId());
    msg->post();
}

void CastSourceSwitchListener::OnPlayControlEvent(const char* event) {
    const char* text = event != nullptr ? event : "";
    orvix::Log(LOG_INFO, "castcontroller: %s() Received event %s", __func__, text);
    sp<AMessage> msg = new AMessage(kWhatPlayControl, mController->handlerId());
    msg->setString(kKeyPlayEventData, text);
    msg->post();
}

void CastSourceSwitchListener::OnVolumeChangeEvent(const char* volume) {
    const char* text = volume != nullptr ? volume : "";
    orvix::Log(LOG_INFO, "castcontroller: %s() Received volume %s", __func__, text);
    sp<AMessage> msg = new AMessage(kWhatVolumeEvent, mController->handlerId());
    msg->setInt32(kKeyVolumeEventData, ConvertStringtoInteger(text, true));
    msg->post();
}

void CastSourceSwitchListener::ReleaseResources(bool switched) {
    orvix::Log(LOG_INFO, "castcontroller: releaseResourceCallback() source switch ? %s",
               switched ? "YES" : "NO");
    sp<android::IUIManager> ui = CastController::getInstance();
    if (ui != nullptr) {
        ui->UpdateSourceRelease(new AMessage());
    }
    if (mController != nullptr) {
        mController->ClearNowPlaying();
    }
    sp<android::ISourceSwitchListener> listener(this);
    if (switched) {
        android::SourceSwitchClient::NotifyPlaybackStopped(listener);
    } else {
        android::SourceSwitchClient::DisconnectMySource(listener);
    }
}
