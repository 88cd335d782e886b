// The looper set-up and the dispatch of every looper message of the controller.
#include <syslog.h>

#include <exception>

#include "core/CastController.h"
#include "core/Log.h"
#include "core/Messages.h"

using android::AMessage;
using android::sp;

void CastController::StartALooper() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered ", __func__);
    mLooper = new android::ALooper();
    mHandler = new android::AHandlerReflector<CastController>(this);
    if (mLooper != nullptr) {
        mLooper->registerHandler(mHandler);
        mLooper->setName("Looper_CastController");
        mLooper->start(false, false, 0);
    }
}

android::handler_id CastController::handlerId() const {
    return mHandler != nullptr ? mHandler->id() : 0;
}

sp<AMessage> CastController::newMessage(uint32_t what) const {
    return new AMessage(what, handlerId());
}

void CastController::onMessageReceived(const sp<AMessage>& msg) {
    if (msg == nullptr) {
        return;
    }
    // The looper drops a message whose handler throws and goes on; say which one, or an
    // integrator only sees an event that never had an effect.
    try {
        Dispatch(msg);
    } catch (const std::exception& e) {
        orvix::Log(LOG_ERR, "castcontroller: %s() message %u dropped, its handler failed: %s",
                   __func__, msg->what(), e.what());
    } catch (...) {
        orvix::Log(LOG_ERR, "castcontroller: %s() message %u dropped, its handler failed", __func__,
                   msg->what());
    }
}

void CastController::Dispatch(const sp<AMessage>& msg) {
    switch (msg->what()) {
        case kWhatOemTimezone:
            HandleOEMTimezoneData();
            return;
        case kWhatMultizoneDelay:
            HandleMultiZoneDelay(msg);
            return;
        case kWhatTriggerCastStatus:
            TriggerCastStatus();
            return;
        case kWhatControlConnected:
            HandleOnControlConnected();
            return;
        case kWhatCastStatus:
            HandleOnCastStatusResponse(msg);
            return;
        case kWhatMediaStatus:
            HandleOnMediaStatus(msg);
            return;
        case kWhatSourceSwitch:
            HandleSourceSwitchEvent();
            return;
        case kWhatPlayControl:
            HandleOnPlaycontrolEvent(msg);
            return;
        case kWhatVolumeEvent:
            HandleOnVolumeEvent(msg);
            return;
        case kWhatClientRequest:
            HandleClientRequest(msg);
            return;
        case kWhatCastResponse:
            HandleOnCastResponse(msg);
            return;
        case kWhatSetCastName: {
            android::AString name;
            if (!msg->findString(kKeyCastDeviceName, &name) || name.empty() ||
                castControl() == nullptr) {
                return;
            }
            std::string newName(name.c_str());
            if (ChangeCastName(newName) != -1) {
                orvix::Log(LOG_INFO, "castcontroller: %s() requested cast to set new name %s",
                           __func__, newName.c_str());
            }
            return;
        }
        case kWhatControlDisconnected:
            orvix::Log(LOG_INFO, "castcontroller: castcontrol::%s() onControlDisConnected!",
                       __func__);
            mControlConnected = false;
            HandleGracefulCleanUp();
            return;
        default:
            // Codes outside the table, and those whose handlers this build does not have,
            // are dropped without a trace.
            return;
    }
}
