#include "platform/host/DeviceLink.h"

#include <cstdlib>

#include "platform/android/BinderPool.h"

namespace orvix::host {

using android::BinderPool;
using android::IBinder;
using android::IInterface;
using android::ISourceSwitchListener;
using android::Parcel;
using android::sp;

std::string DeviceSocketPath() {
    const char* dir = std::getenv("ORVIXSIM_DIR");
    std::string path = (dir && *dir) ? dir : "/tmp/orvixsim";
    return path + "/device.sock";
}

DeviceLink& DeviceLink::instance() {
    // Destroyed at exit, after main: its threads are joined then, so none outlives the
    // process's own teardown.
    static DeviceLink link;
    return link;
}

DeviceLink::DeviceLink()
    : mConnection(
          DeviceSocketPath(),
          [this](const std::string& name, const Json::Value& frame) {
              return onEvent(name, frame);
          },
          [this](bool up) { onLink(up); }) {
    mConnection.start();
}

bool DeviceLink::call(const std::string& op, const Json::Value& args, Json::Value* result) {
    return mConnection.call(op, args, result);
}

void DeviceLink::listenWith(const sp<ISourceSwitchListener>& listener) {
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (listener != nullptr) mListener = listener;
        if (mListener == nullptr || mListening) return;
    }
    sendListen();
}

void DeviceLink::sendListen() {
    if (!mConnection.call("source.listen", Json::Value(Json::objectValue))) return;
    std::lock_guard<std::mutex> lock(mLock);
    mListening = true;
}

// Dispatcher thread. A new socket knows nothing of us: ask for notifications again.
void DeviceLink::onLink(bool up) {
    bool haveListener = false;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mListening = false;
        haveListener = mListener != nullptr;
    }
    if (up && haveListener) sendListen();
}

// Dispatcher thread. The notification itself runs on a binder pool thread, as the service's
// binder calls do on the device, so the listener's transaction decoding runs there too.
bool DeviceLink::onEvent(const std::string& name, const Json::Value& frame) {
    uint32_t code = 0;
    const char* textKey = nullptr;
    if (name == "source.switch") {
        code = ISourceSwitchListener::TRANSACTION_SOURCE_SWITCH;
    } else if (name == "source.play-control") {
        code = ISourceSwitchListener::TRANSACTION_PLAY_CONTROL;
        textKey = "word";
    } else if (name == "source.volume") {
        code = ISourceSwitchListener::TRANSACTION_VOLUME_CHANGE;
        textKey = "text";
    } else {
        return true;
    }
    std::string text;
    if (textKey) {
        const Json::Value& value = frame[textKey];
        if (!value.isString()) return false;
        text = value.asString();
    }
    sp<ISourceSwitchListener> listener;
    {
        std::lock_guard<std::mutex> lock(mLock);
        listener = mListener;
    }
    if (listener == nullptr) return true;
    const bool withText = textKey != nullptr;
    {
        std::lock_guard<std::mutex> lock(mNotifications->lock);
        mNotifications->pending.push_back([listener, code, text, withText] {
            sp<IBinder> binder = IInterface::asBinder(listener.get());
            if (binder == nullptr) return;
            Parcel data;
            Parcel reply;
            if (withText) data.writeCString(text.c_str());
            binder->transact(code, data, &reply);
        });
    }
    BinderPool::Post([queue = mNotifications] { Drain(queue); });
    return true;
}

// Binder pool thread.
void DeviceLink::Drain(const std::shared_ptr<Notifications>& queue) {
    std::lock_guard<std::mutex> draining(queue->draining);
    for (;;) {
        std::function<void()> notification;
        {
            std::lock_guard<std::mutex> lock(queue->lock);
            if (queue->pending.empty()) return;
            notification = std::move(queue->pending.front());
            queue->pending.pop_front();
        }
        try {
            notification();
        } catch (...) {
            // The listener's failure ends that notification only.
        }
    }
}

}  // namespace orvix::host
