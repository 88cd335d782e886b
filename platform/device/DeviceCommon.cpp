// The parts of the device's service libraries that do not depend on how the services are
// reached: key texts, interface descriptors and the listener's transaction decoding.
#include "platform/device/EnvItems.h"
#include "platform/device/SourceSwitch.h"
#include "platform/device/UIManager.h"

const char* const kFeatureGoogleCast = "FeatureGoogleCast";
const char* const kGoogleCastTOS = "GoogleCastTOS";
const char* const kGoogleCastUsageReport = "GoogleCastUsageReport";
const char* const kGoogleCastFactoryLocale = "GoogleCastFactoryLocale";
const char* const kGoogleCastFirmwareVersion = "GoogleCastFirmwareVersion";
const char* const kGoogleCastPlayerLatency = "GoogleCastPlayerLatency";
const char* const kTimeZone = "TimeZone";
const char* const kDeviceFriendlyName = "DeviceFriendlyName";

namespace android {

const String16 ISourceSwitchListener::descriptor = "orvix.sourceswitch.ISourceSwitchListener";
const String16 IUIManager::descriptor = "orvix.ui.IUIManager";
const char* const IUIManager::kServiceName = "orvix.uimanager";

status_t BnSourceSwitchListener::onTransact(uint32_t code, const Parcel& data, Parcel* reply,
                                            uint32_t flags) {
    switch (code) {
        case TRANSACTION_SOURCE_SWITCH:
            OnSourceSwitchEvent();
            return NO_ERROR;
        case TRANSACTION_PLAY_CONTROL: {
            const char* event = data.readCString();
            OnPlayControlEvent(event ? event : "");
            return NO_ERROR;
        }
        case TRANSACTION_VOLUME_CHANGE: {
            const char* volume = data.readCString();
            OnVolumeChangeEvent(volume ? volume : "");
            return NO_ERROR;
        }
        default:
            return BBinder::onTransact(code, data, reply, flags);
    }
}

sp<IUIManager> IUIManager::asInterface(const sp<IBinder>& binder) {
    if (binder == nullptr) return nullptr;
    sp<IInterface> iface = binder->queryLocalInterface(descriptor);
    return sp<IUIManager>(static_cast<IUIManager*>(iface.get()));
}

}  // namespace android
