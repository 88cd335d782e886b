// Internal to the foundation: the process-wide map from handler ids to their handler and
// looper, through which messages are posted and delivered.
#pragma once

#include <cstdint>

#include "platform/android/AHandler.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"
#include "platform/android/RefBase.h"

namespace android {

class ALooperRoster {
public:
    static handler_id RegisterHandler(ALooper* looper, const sp<AHandler>& handler);
    static void UnregisterHandler(handler_id id);
    // Drops the entries of a looper that is being destroyed.
    static void ForgetLooper(const ALooper* looper);
    // NAME_NOT_FOUND when the target, its handler or its looper is gone.
    static status_t PostMessage(const sp<AMessage>& msg, int64_t delayUs);
    // Calls handler (registered under id when the message was posted) on the calling thread,
    // if it still exists and is still registered under that id.
    static void DeliverMessage(const sp<AMessage>& msg, const wp<AHandler>& handler, handler_id id);
    static sp<ALooper> LooperOf(const AHandler& handler);
};

}  // namespace android
