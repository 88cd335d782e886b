// A looper message handler; its id is given by ALooper::registerHandler.
#pragma once

#include <atomic>

#include "platform/android/AMessage.h"
#include "platform/android/RefBase.h"

namespace android {

class ALooper;

class AHandler : public RefBase {
public:
    AHandler() : mID(0) {}

    handler_id id() const { return mID.load(std::memory_order_acquire); }
    // The looper the handler is registered with; null when none or when it is gone.
    sp<ALooper> looper() const;

protected:
    virtual void onMessageReceived(const sp<AMessage>& msg) = 0;

private:
    friend class ALooper;
    friend class ALooperRoster;
    void setID(handler_id id, const wp<ALooper>& looper);

    // Read by posters on any thread, so atomic; written under the roster's lock.
    std::atomic<handler_id> mID;
    // Guarded by the roster's lock.
    wp<ALooper> mLooper;
};

}  // namespace android
