// Process-wide constants, tables, callback slots and flags, built before the entry point runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

// Where a volume or mute report comes from.
enum VolumeMediaType : int32_t {
    kVolumeFromDevice = 0,
    kVolumeFromCast = 1,
};

// Cast's number at the source-switch service, on the bus (MID 50) and in the UI metadata.
constexpr int32_t kCastSourceType = 24;

extern const std::string kCastControlSocketPath;
extern const std::string kLocalTimeLinkPath;
extern const std::string kTimezoneFilePath;
extern const std::string kUnmuteCommand;
extern const std::string kDefaultCoverArt;
extern const std::string kEurekaInfoUrl;

// Member names of the client request protocol.
extern const std::string kJsonId;
extern const std::string kJsonDeviceUuid;
extern const std::string kJsonTos;
extern const std::string kJsonCrashReport;
extern const std::string kJsonStatus;
extern const std::string kJsonAction;
extern const std::string kJsonStatusMsg;
extern const std::string kJsonUserIp;

// Speaker-state payloads on the bus.
extern const std::string kSpeakerActive;
extern const std::string kSpeakerInactive;

// Reply texts of the cast library's result codes. Looper thread only; a code outside the
// table reads as an empty text and stays in the table from then on.
extern std::unordered_map<int32_t, std::string> kCastErrorMessages;
// Play-control word to the receiver's play command. Never changed after start.
extern const std::unordered_map<std::string, int32_t> kPlayEvents;

// Callback slots, filled once during start-up (bus registration and the source-switch
// listener) before anything can call them, and only read afterwards.
extern std::function<void(bool)> releaseResourceCallback;
extern std::function<bool()> playMySourceCallback;
extern std::function<void()> setvemovolume;
extern std::function<void(const int&, const std::string&, VolumeMediaType)> onVolumeMuteCallback;

// True from a source switch away from cast until the next grant or standby.
extern std::atomic<bool> gSourceSwitched;
// True after the last mute report was "MUTE".
extern std::atomic<bool> gCastMuted;
