// The settings store, the device name and the source-switch client over their models.
#include "platform/device/DeviceInfo.h"
#include "platform/device/EnvItems.h"
#include "platform/device/SourceSwitch.h"
#include "tests/fakes/FakeWorld.h"

using orvix::fakes::Fakes;

int GetEnvItemByName(const char* key, std::string& value) {
    Fakes().throwIfTold("GetEnvItemByName");
    if (key == nullptr) return -1;
    return Fakes().world().settings().get(key, &value) ? 0 : -1;
}

int SetEnvItemByName(const char* key, const std::string& value) {
    Fakes().throwIfTold("SetEnvItemByName");
    if (key == nullptr) return -1;
    return Fakes().world().settings().set(key, value, orvix::model::Origin::Daemon) ? 0 : -1;
}

int getFriendlyName(std::string& name) {
    return Fakes().world().deviceName().get(&name);
}

namespace android {

bool SourceSwitchClient::PlayMySource(const sp<ISourceSwitchListener>& listener,
                                      ISourceSwitchListener::sourcetype source) {
    Fakes().rememberSourceListener(listener);
    return Fakes().world().source().playMySource(listener != nullptr, source);
}

int32_t SourceSwitchClient::UpdatePlayerState(const sp<ISourceSwitchListener>& listener,
                                              ISourceSwitch::EPlayState state) {
    Fakes().rememberSourceListener(listener);
    return Fakes().world().source().updatePlayerState(listener != nullptr, state);
}

int32_t SourceSwitchClient::NotifyPlaybackStopped(const sp<ISourceSwitchListener>& listener) {
    Fakes().rememberSourceListener(listener);
    return Fakes().world().source().notifyPlaybackStopped(listener != nullptr);
}

int32_t SourceSwitchClient::DisconnectMySource(const sp<ISourceSwitchListener>& listener) {
    Fakes().rememberSourceListener(listener);
    return Fakes().world().source().disconnectMySource(listener != nullptr);
}

int32_t SourceSwitchClient::UpdateAppVolume(std::string volume) {
    return Fakes().world().source().updateAppVolume(volume);
}

int32_t SourceSwitchClient::UpdateAppMuteStat(bool muted) {
    return Fakes().world().source().updateAppMuteStat(muted);
}

}  // namespace android
