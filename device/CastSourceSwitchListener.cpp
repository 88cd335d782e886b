#include "device/CastSourceSwitchListener.h"

#include <syslog.h>

#include "core/CastController.h"
#include "core/Log.h"

using android::sp;

CastSourceSwitchListener::CastSourceSwitchListener(const sp<CastController>& controller)
    : mController(controller) {
    orvix::Log(LOG_INFO, "castcontroller: %s() cast listener instance created ++ ", __func__);
}

CastSourceSwitchListener::~CastSourceSwitchListener() {
    orvix::Log(LOG_INFO, "castcontroller: CastSourceSwitchListener::%s() called ++",
               "~CastSourceSwitchListener");
    mController.clear();
}

void CastSourceSwitchListener::RegisterWithCastCli() {}

void CastSourceSwitchListener::OnSourceSwitchEvent() {}

void CastSourceSwitchListener::OnPlayControlEvent(const char* /*event*/) {}

void CastSourceSwitchListener::OnVolumeChangeEvent(const char* /*volume*/) {}
