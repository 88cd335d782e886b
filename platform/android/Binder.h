// The binder object model the daemon's listener is built on: IBinder, BBinder, IInterface,
// BnInterface and a small Parcel. Transactions are local calls; the device library decides
// on which pool thread they run.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/android/RefBase.h"
#include "platform/android/Thread.h"

namespace android {

typedef std::string String16;

class Parcel {
public:
    void writeInt32(int32_t value);
    // Null is kept apart from the empty string.
    void writeCString(const char* s);
    // Reads advance past the item even when it is of the other type (then 0 or null).
    int32_t readInt32() const;
    // Null when nothing (or a null string) is left to read. Valid while the parcel lives.
    const char* readCString() const;
    void rewind() const { mPos = 0; }

private:
    struct Item {
        bool isString;
        bool isNull;
        int32_t i32;
        std::string s;
    };
    // A deque, so that strings handed out by readCString stay put when more is written.
    std::deque<Item> mItems;
    mutable size_t mPos = 0;
};

class IInterface;
class BBinder;

class IBinder : public virtual RefBase {
public:
    enum { FIRST_CALL_TRANSACTION = 0x00000001, FLAG_ONEWAY = 0x00000001 };

    virtual const String16& getInterfaceDescriptor() const = 0;
    virtual sp<IInterface> queryLocalInterface(const String16& descriptor);
    virtual status_t transact(uint32_t code, const Parcel& data, Parcel* reply,
                              uint32_t flags = 0) = 0;
    virtual BBinder* localBinder() { return nullptr; }
};

class BBinder : public IBinder {
public:
    const String16& getInterfaceDescriptor() const override;
    status_t transact(uint32_t code, const Parcel& data, Parcel* reply, uint32_t flags = 0) final;
    BBinder* localBinder() override { return this; }

protected:
    virtual status_t onTransact(uint32_t code, const Parcel& data, Parcel* reply,
                                uint32_t flags = 0);
};

class IInterface : public virtual RefBase {
public:
    static sp<IBinder> asBinder(const IInterface* iface);
    static sp<IBinder> asBinder(const sp<IInterface>& iface);

protected:
    virtual IBinder* onAsBinder() = 0;
};

template <typename INTERFACE>
class BnInterface : public INTERFACE, public BBinder {
public:
    sp<IInterface> queryLocalInterface(const String16& descriptor) override {
        if (descriptor == INTERFACE::descriptor) return sp<IInterface>(this);
        return nullptr;
    }
    const String16& getInterfaceDescriptor() const override { return INTERFACE::descriptor; }

protected:
    IBinder* onAsBinder() override { return this; }
};

}  // namespace android
