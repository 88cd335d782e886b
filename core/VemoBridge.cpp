// The controller's side of the device message bus.
#include <syslog.h>
#include <unistd.h>

#include "core/CastController.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "device/VolumeMute.h"

using android::AMessage;
using android::sp;

void CastController::RegisterWithVemo() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered ", __func__);
    mVemoHelper = new android::VEMOHelper();
    while (!mVemoHelper->verifyConnection_l()) {
        android::SleepUs(3000000);
    }
    for (int32_t mid : {kMidDeviceName, kMidClientRequest, kMidSuspendReason7, kMidSuspendReason3,
                        kMidSuspendReason3Alt, kMidClientReply, kMidOemTimezone}) {
        mVemoMids.add(mid);
    }
    mVemoHelper->registerListener(sp<android::IVemoAlerts>(this), mVemoMids);
    // The controller lives for the process, so the slots may hold it plainly.
    onVolumeMuteCallback = [](const int& mid, const std::string& payload, VolumeMediaType type) {
        ReportVolumeMute(mid, payload, type);
    };
    setvemovolume = [this]() { SyncDeviceVolumeToCast(mVemoHelper); };
}

void CastController::MessageBoxAlert(int32_t mid) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Received VEMO alert for MID %d TID:%d", __func__,
               mid, static_cast<int>(gettid()));
    switch (mid) {
        case kMidSuspendReason7:
            HandleCastSuspend(7);
            break;
        case kMidSuspendReason3:
        case kMidSuspendReason3Alt:
            HandleCastSuspend(3);
            break;
        case kMidDeviceName:
        case kMidClientRequest: {
            std::string payload;
            mVemoHelper->readRemoteMessage(mid, payload);
            bool isName = mid == kMidDeviceName;
            sp<AMessage> msg = newMessage(isName ? kWhatSetCastName : kWhatClientRequest);
            // Bus payloads are C strings on the device: the text ends at its first NUL.
            msg->setString(isName ? kKeyCastDeviceName : kKeyMessageData, payload.c_str(), -1);
            msg->post();
            break;
        }
        case kMidOemTimezone:
            newMessage(kWhatOemTimezone)->post();
            break;
        default:
            break;
    }
}

void CastController::MessageBoxStatus(int32_t /*status*/) {}

void CastController::WriteBus(int32_t mid, const std::string& payload) {
    if (mVemoHelper != nullptr) {
        mVemoHelper->writeRemoteMessage(mid, payload, 0);
    }
}
