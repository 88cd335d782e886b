// The receiver's device name.
#include <syslog.h>

#include "core/CastController.h"
#include "core/Log.h"

int32_t CastController::ChangeCastName(const std::string& name) {
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (control == nullptr || name.empty()) {
        orvix::Log(LOG_ERR,
                   "castcontroller: %s() Either cast control object is invalid or name is "
                   "empty.             Can't set cast name %s",
                   __func__, name.c_str());
        return -1;
    }
    return control->SetDeviceName(name);
}
