// Volume and mute kept in step between the receiver, the bus, the source-switch service and
// the mixer.
#pragma once

#include <exception>
#include <string>

#include "core/Constants.h"

namespace android {
class VEMOHelper;
}

// Volume text to 0..100; 30 for unusable text. The empty text converts, to 0.
int ConvertStringtoInteger(const std::string& text, bool useDefault);

// Receiver callbacks, on the cast library's thread.
void handleOnVolumeChanges(int volume);
void handleOnMuteChanges(int mute);
void handleOnRequestResources();
void handleOnReleaseResources();

// The bodies behind the onVolumeMuteCallback and setvemovolume slots.
void ReportVolumeMute(const int& mid, const std::string& payload, VolumeMediaType type);
void SyncDeviceVolumeToCast(android::VEMOHelper* bus);

// The error line of RunGuarded.
void LogCallbackFailure(const char* who, const char* what);

// Runs body so that no exception leaves it: the cast library's threads and the daemon's
// detached workers would end the process on one.
template <class Body>
void RunGuarded(const char* who, Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        LogCallbackFailure(who, e.what());
    } catch (...) {
        LogCallbackFailure(who, "unknown exception");
    }
}
