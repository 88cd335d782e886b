// Looper message codes and the keys of their fields; each key is spelled here only.
#pragma once

#include <cstdint>

enum : uint32_t {
    kWhatClientRequest = 1,
    kWhatSetCastName = 2,
    kWhatOemTimezone = 5,
    kWhatTriggerCastStatus = 7,
    kWhatMultizoneDelay = 9,
    kWhatSourceSwitch = 21,
    kWhatPlayControl = 22,
    kWhatVolumeEvent = 23,
    kWhatControlConnected = 31,
    kWhatControlDisconnected = 32,
    kWhatCastStatus = 33,
    kWhatMediaStatus = 36,
    kWhatCastResponse = 37,
};

constexpr const char kKeyMessageData[] = "message-data";
constexpr const char kKeyCastDeviceName[] = "castdevice-name";
constexpr const char kKeyMultizoneDelay[] = "multizone-delay";
constexpr const char kKeyPlayEventData[] = "playevent-data";
constexpr const char kKeyVolumeEventData[] = "volumevent-data";
constexpr const char kKeyCastName[] = "cast-name";
constexpr const char kKeyBuildNumber[] = "build-number";
constexpr const char kKeyLocale[] = "locale";
constexpr const char kKeyTimezone[] = "timezone";
constexpr const char kKeyCastAppName[] = "castapp-name";
constexpr const char kKeyUsageReport[] = "usage-report";
constexpr const char kKeyPlayerState[] = "player-state";
constexpr const char kKeyStreamType[] = "stream-type";
constexpr const char kKeySessionId[] = "session-id";
constexpr const char kKeyTotalDuration[] = "total-duration";
constexpr const char kKeyCoverArtUrl[] = "coveart-url";
constexpr const char kKeyTrackName[] = "track-name";
constexpr const char kKeyAlbumName[] = "album-name";
constexpr const char kKeyAlbumArtist[] = "album-artist";
constexpr const char kKeyArtistName[] = "artist-name";
constexpr const char kKeyRequestId[] = "request-id";
constexpr const char kKeyResultMsg[] = "result-msg";

// Message-bus ids the daemon reads or writes.
enum : int32_t {
    kMidCastVersion = 7,
    kMidSuspendReason3Alt = 37,
    kMidPlayPosition = 49,
    kMidCurrentSource = 50,
    kMidMute = 63,
    kMidVolume = 64,
    kMidSpeakerState = 70,
    kMidDeviceName = 90,
    kMidSuspendReason3 = 115,
    kMidSuspendReason7 = 150,
    kMidClientRequest = 571,
    kMidClientReply = 572,
    kMidOemTimezone = 573,
};
