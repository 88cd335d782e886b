// Volume and mute kept in step between the receiver, the bus, the source-switch service and
// the mixer.
#pragma once

#include <string>

#include "core/Constants.h"

namespace android {
class VEMOHelper;
}

// Volume text to 0..100; 30 for text that is not a whole number in that range.
int ConvertStringtoInteger(const std::string& text, bool useDefault);

// Receiver callbacks, on the cast library's thread.
void handleOnVolumeChanges(int volume);
void handleOnMuteChanges(int mute);
void handleOnRequestResources();
void handleOnReleaseResources();

// The bodies behind the onVolumeMuteCallback and setvemovolume slots.
void ReportVolumeMute(const int& mid, const std::string& payload, VolumeMediaType type);
void SyncDeviceVolumeToCast(android::VEMOHelper* bus);
