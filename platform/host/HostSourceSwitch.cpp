// The source-switch client over the shared device connection: every operation is one
// "source.call" request; -1 (false for PlayMySource) when the service cannot be reached.
#include <string>

#include "platform/device/SourceSwitch.h"
#include "platform/host/DeviceLink.h"

namespace android {

namespace {

using orvix::host::ArgList;
using orvix::host::DeviceLink;

bool SourceCall(const sp<ISourceSwitchListener>& listener, const char* op, Json::Value args,
                Json::Value* result) {
    DeviceLink& link = DeviceLink::instance();
    if (listener != nullptr) link.listenWith(listener);
    Json::Value request(Json::objectValue);
    request["op"] = op;
    request["args"] = std::move(args);
    return link.call("source.call", request, result);
}

int32_t IntCall(const sp<ISourceSwitchListener>& listener, const char* op, Json::Value args) {
    Json::Value result;
    if (!SourceCall(listener, op, std::move(args), &result) || !result.isInt()) return -1;
    return result.asInt();
}

}  // namespace

bool SourceSwitchClient::PlayMySource(const sp<ISourceSwitchListener>& listener,
                                      ISourceSwitchListener::sourcetype source) {
    Json::Value result;
    if (!SourceCall(listener, "PlayMySource", ArgList(static_cast<int32_t>(source)), &result) ||
        !result.isBool()) {
        return false;
    }
    return result.asBool();
}

int32_t SourceSwitchClient::UpdatePlayerState(const sp<ISourceSwitchListener>& listener,
                                              ISourceSwitch::EPlayState state) {
    return IntCall(listener, "UpdatePlayerState", ArgList(static_cast<int32_t>(state)));
}

int32_t SourceSwitchClient::NotifyPlaybackStopped(const sp<ISourceSwitchListener>& listener) {
    return IntCall(listener, "NotifyPlaybackStopped", ArgList());
}

int32_t SourceSwitchClient::DisconnectMySource(const sp<ISourceSwitchListener>& listener) {
    return IntCall(listener, "DisconnectMySource", ArgList());
}

int32_t SourceSwitchClient::UpdateAppVolume(std::string volume) {
    return IntCall(nullptr, "UpdateAppVolume", ArgList(volume));
}

int32_t SourceSwitchClient::UpdateAppMuteStat(bool muted) {
    return IntCall(nullptr, "UpdateAppMuteStat", ArgList(muted));
}

}  // namespace android
