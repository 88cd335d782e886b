// The settings store and the device name over the shared device connection. When the
// simulator cannot be reached the output string is left as it was and the result is -1.
#include "platform/device/DeviceInfo.h"
#include "platform/device/EnvItems.h"
#include "platform/host/DeviceLink.h"

using orvix::host::DeviceLink;

int GetEnvItemByName(const char* key, std::string& value) {
    if (key == nullptr) return -1;
    Json::Value args(Json::objectValue);
    args["key"] = key;
    Json::Value result;
    if (!DeviceLink::instance().call("env.get", args, &result) || !result.isObject()) return -1;
    const Json::Value& set = result["set"];
    const Json::Value& text = result["value"];
    // An unset key is a failed read: the caller's string keeps its value.
    if (!set.isBool() || !set.asBool() || !text.isString()) return -1;
    value = text.asString();
    return 0;
}

int SetEnvItemByName(const char* key, const std::string& value) {
    if (key == nullptr) return -1;
    Json::Value args(Json::objectValue);
    args["key"] = key;
    args["value"] = value;
    return DeviceLink::instance().call("env.set", args) ? 0 : -1;
}

int getFriendlyName(std::string& name) {
    Json::Value result;
    if (!DeviceLink::instance().call("name.get", Json::Value(Json::objectValue), &result) ||
        !result.isObject()) {
        return -1;
    }
    const Json::Value& status = result["status"];
    const Json::Value& text = result["name"];
    if (!status.isInt() || !text.isString()) return -1;
    // The device fills the name whatever status it reports.
    name = text.asString();
    return status.asInt();
}
