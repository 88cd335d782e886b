#include "platform/android/Binder.h"

namespace android {

void Parcel::writeInt32(int32_t value) {
    mItems.push_back(Item{false, false, value, {}});
}

void Parcel::writeCString(const char* s) {
    mItems.push_back(Item{true, s == nullptr, 0, s ? std::string(s) : std::string()});
}

int32_t Parcel::readInt32() const {
    if (mPos >= mItems.size()) return 0;
    const Item& item = mItems[mPos++];
    return item.isString ? 0 : item.i32;
}

const char* Parcel::readCString() const {
    if (mPos >= mItems.size()) return nullptr;
    const Item& item = mItems[mPos++];
    if (!item.isString || item.isNull) return nullptr;
    return item.s.c_str();
}

sp<IInterface> IBinder::queryLocalInterface(const String16&) {
    return nullptr;
}

const String16& BBinder::getInterfaceDescriptor() const {
    static const String16* const kEmpty = new String16();
    return *kEmpty;
}

status_t BBinder::transact(uint32_t code, const Parcel& data, Parcel* reply, uint32_t flags) {
    data.rewind();
    return onTransact(code, data, reply, flags);
}

status_t BBinder::onTransact(uint32_t, const Parcel&, Parcel*, uint32_t) {
    return UNKNOWN_TRANSACTION;
}

sp<IBinder> IInterface::asBinder(const IInterface* iface) {
    if (iface == nullptr) return nullptr;
    return const_cast<IInterface*>(iface)->onAsBinder();
}

sp<IBinder> IInterface::asBinder(const sp<IInterface>& iface) {
    return asBinder(iface.get());
}

}  // namespace android
