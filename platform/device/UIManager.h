// The UI manager service and the binder service manager that finds it.
#pragma once

#include <cstdint>

#include "platform/android/AMessage.h"
#include "platform/android/Binder.h"
#include "platform/android/RefBase.h"

namespace android {

class IServiceManager : public virtual RefBase {
public:
    // The service registered under name, or null when there is none.
    virtual sp<IBinder> getService(const String16& name) const = 0;
    virtual sp<IBinder> checkService(const String16& name) const = 0;
};

sp<IServiceManager> defaultServiceManager();

class IUIManager : public IInterface {
public:
    static const String16 descriptor;
    static const char* const kServiceName;
    static sp<IUIManager> asInterface(const sp<IBinder>& binder);

    // Shows the now-playing fields of msg.
    virtual status_t UpdateMetadata(const sp<AMessage>& msg) = 0;
    // Tells the UI that the source gave up the speaker; msg carries no fields.
    virtual status_t UpdateSourceRelease(const sp<AMessage>& msg) = 0;
};

}  // namespace android
