// A looper message handler; its id is given by ALooper::registerHandler.
#pragma once

#include "platform/android/AMessage.h"
#include "platform/android/RefBase.h"

namespace android {

class ALooper;

class AHandler : public RefBase {
public:
    AHandler() : mID(0) {}

    handler_id id() const { return mID; }
    sp<ALooper> looper() const;

protected:
    virtual void onMessageReceived(const sp<AMessage>& msg) = 0;

private:
    friend class ALooper;
    friend class ALooperRoster;
    void setID(handler_id id, const wp<ALooper>& looper);

    handler_id mID;
    wp<ALooper> mLooper;
};

}  // namespace android
