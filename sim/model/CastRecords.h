// What the simulated receiver tells the daemon: the cast status and media status records
// (owning, with optional texts where the library's records have nullable pointers) and the
// events the transport delivers, with their JSON for the CLI.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orvix::model {

struct CastStatusData {
    std::optional<std::string> name;
    std::optional<std::string> buildNumber;
    std::optional<std::string> locale;
    std::optional<std::string> timezone;
    int32_t castState = 6;  // READY_TO_CAST
    bool usageReport = false;
    // The running app's name; nullopt means there is no running-app record at all, unless
    // appWithoutName says there is one whose name is null.
    std::optional<std::string> appName;
    bool appWithoutName = false;
};

struct MediaMetadataData {
    std::optional<std::string> title;
    std::optional<std::string> artist;
    std::optional<std::string> albumName;
    std::optional<std::string> albumArtist;
    // The one image's URL; nullopt means no image, unless imageWithoutUrl says there is one
    // whose URL is null.
    std::optional<std::string> imageUrl;
    bool imageWithoutUrl = false;
    int32_t metadataType = 3;  // music track
};

struct MediaInfoData {
    int32_t streamType = 1;  // BUFFERED
    double duration = 0.0;
    std::optional<MediaMetadataData> metadata;
};

struct MediaStatusData {
    int32_t sessionId = 1;
    int32_t playerState = 0;
    double currentTime = 0.0;
    int32_t idleReason = 4;  // no idle reason
    std::optional<MediaInfoData> mediaInfo;
};

// One thing the receiver does to the daemon: an observer call or a callback variable call.
struct CastEvent {
    enum class Kind {
        Connected,         // OnControlConnected
        Disconnected,      // OnControlDisconnected
        Status,            // OnCastStatus(status)
        Media,             // OnMediaStatus(media)
        Response,          // OnResponse(requestId, code)
        Ready,             // OnCastCliReady()
        RequestResources,  // OnRequestResources()
        ReleaseResources,  // OnReleaseResources()
        Volume,            // OnCastCliVolumeChange(value)
        Mute,              // OnCastCliMuteChange(value)
    };
    Kind kind = Kind::Connected;
    CastStatusData status;
    MediaStatusData media;
    int32_t requestId = 0;
    int32_t code = 0;
    int32_t value = 0;

    static CastEvent of(Kind kind);
    static CastEvent statusEvent(const CastStatusData& status);
    static CastEvent mediaEvent(const MediaStatusData& media);
    static CastEvent response(int32_t requestId, int32_t code);
    static CastEvent volume(int32_t value);
    static CastEvent mute(int32_t value);

    // True for the observer's calls, false for the callback variables.
    bool forObserver() const;
    // One line for the timeline, e.g. "OnResponse(3, 0)".
    std::string describe() const;
};

// "connect", "disconnect", "status", "media", "response", "ready", "request-resources",
// "release-resources", "volume", "mute".
const char* castEventName(CastEvent::Kind kind);

Json::Value toJson(const CastStatusData& status);
Json::Value toJson(const MediaStatusData& media);
Json::Value toJson(const CastEvent& event);

}  // namespace orvix::model
