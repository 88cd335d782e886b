#include "core/OrvixCast.h"

#include <syslog.h>

#include <new>
#include <string>

#include "core/CastController.h"
#include "core/Log.h"
#include "platform/DeviceServices.h"
#include "platform/Foundation.h"

int OrvixCastMain() {
    setlogmask(LOG_UPTO(LOG_DEBUG));
    openlog("orvixcast", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);

    std::string feature;
    GetEnvItemByName(kFeatureGoogleCast, feature);
    // Only the exact text switches cast off; anything else, empty included, leaves it on.
    if (feature == "false") {
        orvix::Log(LOG_ERR, "orvixcast: %s() Orvixcast feature is disabled! ENV GoogleCast:%s",
                   "main", feature.c_str());
        return -1;
    }

    android::sp<CastController> controller = new (std::nothrow) CastController();
    if (controller == nullptr) {
        orvix::Log(LOG_ERR, "orvixcast: %s() Memory allocation failure!", "main");
        return -1;
    }
    orvix::Log(LOG_INFO, "orvixcast: %s() Starting OrvixCast process!", "main");

    android::ProcessState::self()->startThreadPool();
    controller->run("Orvix_CastController", 0, 0);
    android::IPCThreadState::self()->joinThreadPool(true);

    closelog();
    controller.clear();
    return 0;
}
