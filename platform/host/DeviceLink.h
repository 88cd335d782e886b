// The process-wide connection to the simulator's device socket, shared by the settings store,
// the device name, the source-switch client and the UI manager (the bus clients have their
// own). It is made on first use and also carries the source-switch notifications.
#pragma once

#include <json/json.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/device/SourceSwitch.h"
#include "platform/host/Connection.h"

namespace orvix::host {

// $ORVIXSIM_DIR/device.sock, /tmp/orvixsim/device.sock when the variable is unset or empty.
std::string DeviceSocketPath();

class DeviceLink {
public:
    static DeviceLink& instance();

    // A request on the shared connection; see Connection::call.
    bool call(const std::string& op, const Json::Value& args, Json::Value* result = nullptr);

    // Remembers listener as the one the service's notifications go to and, unless this
    // connection already did so, asks the service for them ("source.listen").
    void listenWith(const android::sp<android::ISourceSwitchListener>& listener);

private:
    DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    bool onEvent(const std::string& name, const Json::Value& frame);
    void onLink(bool up);
    void sendListen();

    // Notifications not yet run, in arrival order. Every notification posts a drain, and one
    // drain at a time runs all that are queued, so the listener sees them in the order the
    // service sent them (as with oneway binder calls) and a drain the pool dropped loses
    // nothing. Shared with the posted work, which may outlive this object at exit.
    struct Notifications {
        std::mutex draining;  // held by the drain that is running
        std::mutex lock;      // guards pending
        std::deque<std::function<void()>> pending;
    };
    static void Drain(const std::shared_ptr<Notifications>& queue);

    const std::shared_ptr<Notifications> mNotifications = std::make_shared<Notifications>();
    // Guards mListener and mListening.
    std::mutex mLock;
    android::sp<android::ISourceSwitchListener> mListener;
    // True once the current socket asked for notifications; a new socket must ask again.
    bool mListening = false;
    // Last: its threads, which run the handlers above, stop before the members go.
    Connection mConnection;
};

}  // namespace orvix::host
