// Who owns the speaker: the clean-up when a cast session ends while cast still has it.
#include <syslog.h>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"

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
