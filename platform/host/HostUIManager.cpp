// The service manager as far as the daemon uses it: the UI manager, looked up by asking the
// simulator whether the UI is up, and served by a local object whose two operations each
// send one "ui.update" request on the shared device connection.
#include <string>

#include "platform/device/UIManager.h"
#include "platform/host/DeviceLink.h"

namespace android {

namespace {

using orvix::host::DeviceLink;

class HostUIManager : public BnInterface<IUIManager> {
public:
    status_t UpdateMetadata(const sp<AMessage>& msg) override { return send("metadata", msg); }
    status_t UpdateSourceRelease(const sp<AMessage>& msg) override { return send("clear", msg); }

private:
    static status_t send(const char* op, const sp<AMessage>& msg) {
        Json::Value args(Json::objectValue);
        args["op"] = op;
        args["fields"] = Fields(msg);
        return DeviceLink::instance().call("ui.update", args) ? OK : DEAD_OBJECT;
    }

    // The message's entries in the order they were set, each with its type.
    static Json::Value Fields(const sp<AMessage>& msg) {
        Json::Value fields(Json::arrayValue);
        if (msg == nullptr) return fields;
        for (size_t i = 0; i < msg->countEntries(); ++i) {
            AMessage::Type type;
            const char* name = msg->getEntryNameAt(i, &type);
            if (name == nullptr) continue;
            Json::Value field(Json::objectValue);
            field["key"] = name;
            if (type == AMessage::kTypeInt32) {
                int32_t value = 0;
                msg->findInt32(name, &value);
                field["type"] = "int32";
                field["value"] = value;
            } else if (type == AMessage::kTypeDouble) {
                double value = 0.0;
                msg->findDouble(name, &value);
                field["type"] = "double";
                field["value"] = value;
            } else {
                AString value;
                msg->findString(name, &value);
                field["type"] = "string";
                field["value"] = value.str();
            }
            fields.append(field);
        }
        return fields;
    }
};

class HostServiceManager : public IServiceManager {
public:
    sp<IBinder> getService(const String16& name) const override { return checkService(name); }

    sp<IBinder> checkService(const String16& name) const override {
        if (name != IUIManager::kServiceName) return nullptr;
        Json::Value up;
        if (!DeviceLink::instance().call("ui.available", Json::Value(Json::objectValue), &up) ||
            !up.isBool() || !up.asBool()) {
            return nullptr;
        }
        return sp<IBinder>(new HostUIManager());
    }
};

}  // namespace

sp<IServiceManager> defaultServiceManager() {
    // Never destroyed: callers may hold it past the end of main.
    static const sp<IServiceManager>* const manager =
        new sp<IServiceManager>(new HostServiceManager());
    return *manager;
}

}  // namespace android
