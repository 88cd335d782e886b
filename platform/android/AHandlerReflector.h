// Forwards looper messages to an object's onMessageReceived through a weak reference,
// so messages queued for an object that is gone are dropped.
#pragma once

#include "platform/android/AHandler.h"

namespace android {

template <typename T>
class AHandlerReflector : public AHandler {
public:
    explicit AHandlerReflector(T* target) : mTarget(target) {}

protected:
    void onMessageReceived(const sp<AMessage>& msg) override {
        sp<T> target = mTarget.promote();
        if (target != nullptr) {
            target->onMessageReceived(msg);
        }
    }

private:
    wp<T> mTarget;
};

}  // namespace android
