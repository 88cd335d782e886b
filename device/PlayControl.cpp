// Play-control words from the device, applied to the receiver.
#include <syslog.h>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"

void CastController::HandleOnPlaycontrolEvent(const android::sp<android::AMessage>& msg) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Received Play control event!", __func__);
    android::AString field;
    msg->findString(kKeyPlayEventData, &field);
    std::string word = field.str();
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (word.empty() || control == nullptr) {
        return;
    }
    if (word == "RESUME") {
        word = "PLAY";
    } else if (word == "DISCONNECT") {
        word = "STOP";
    }

    if (word == "STANDBYON") {
        orvix::Log(LOG_INFO, "castcontroller: Received STANDBY_ON event, notify cast to stop!");
        RevokeResources();
        gSourceSwitched = false;
        HandleGracefulCleanUp();
    }

    auto event = kPlayEvents.find(word);
    if (event != kPlayEvents.end()) {
        orvix::Log(LOG_INFO, "castcontroller: %s() event found in map is %s, notify cast server!",
                   __func__, word.c_str());
        int32_t result = control->SendPlayCommand(event->second);
        if (result == -1) {
            orvix::Log(LOG_ERR,
                       "castcontroller: %s() Failed to Notify cast server, Event %s resultID %d",
                       __func__, word.c_str(), result);
        }
    }

    if (word == "PLAY") {
        WriteBus(kMidSpeakerState, kSpeakerActive);
    } else if (word == "STOP" || word == "NETWORKSTOP") {
        WriteBus(kMidSpeakerState, kSpeakerInactive);
    } else if (word == "MUTE") {
        CastCliSyncMute(1);
        gCastMuted = true;
    } else if (word == "UNMUTE") {
        CastCliSyncMute(0);
        gCastMuted = false;
    }
}
