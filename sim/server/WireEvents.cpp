#include "sim/server/WireEvents.h"

namespace orvix::sim {

namespace {

using model::CastEvent;

Json::Value Event(const char* name) {
    Json::Value frame(Json::objectValue);
    frame["event"] = name;
    return frame;
}

// A null member is an absent one on the wire.
void PutText(Json::Value* object, const char* key, const std::optional<std::string>& text) {
    if (text) (*object)[key] = *text;
}

Json::Value StatusEvent(const model::CastStatusData& s) {
    Json::Value frame = Event("cast.status");
    PutText(&frame, "name", s.name);
    PutText(&frame, "build", s.buildNumber);
    PutText(&frame, "locale", s.locale);
    PutText(&frame, "timezone", s.timezone);
    frame["state"] = s.castState;
    frame["usageReport"] = s.usageReport;
    PutText(&frame, "app", s.appName);
    if (!s.appName && s.appWithoutName) frame["app"] = Json::Value();
    return frame;
}

Json::Value MediaEvent(const model::MediaStatusData& m) {
    Json::Value frame = Event("cast.media");
    frame["session"] = m.sessionId;
    frame["state"] = m.playerState;
    frame["time"] = m.currentTime;
    frame["idleReason"] = m.idleReason;
    if (m.mediaInfo) {
        Json::Value info(Json::objectValue);
        info["streamType"] = m.mediaInfo->streamType;
        info["duration"] = m.mediaInfo->duration;
        if (m.mediaInfo->metadata) {
            const model::MediaMetadataData& md = *m.mediaInfo->metadata;
            Json::Value meta(Json::objectValue);
            PutText(&meta, "title", md.title);
            PutText(&meta, "artist", md.artist);
            PutText(&meta, "album", md.albumName);
            PutText(&meta, "albumArtist", md.albumArtist);
            PutText(&meta, "image", md.imageUrl);
            if (!md.imageUrl && md.imageWithoutUrl) meta["image"] = Json::Value();
            meta["metadataType"] = md.metadataType;
            info["metadata"] = meta;
        }
        frame["info"] = info;
    }
    return frame;
}

}  // namespace

Json::Value BusAlertEvent(int32_t mid, const std::string& payload) {
    Json::Value frame = Event("bus.alert");
    frame["mid"] = mid;
    frame["payload"] = payload;
    return frame;
}

Json::Value SourceEvent(const model::SourceNotification& n) {
    switch (n.kind) {
        case model::SourceNotification::Kind::SourceSwitch:
            return Event("source.switch");
        case model::SourceNotification::Kind::PlayControl: {
            Json::Value frame = Event("source.play-control");
            frame["word"] = n.text;
            return frame;
        }
        case model::SourceNotification::Kind::VolumeChange: {
            Json::Value frame = Event("source.volume");
            frame["text"] = n.text;
            return frame;
        }
    }
    return Event("source.switch");
}

Json::Value CastEventFrame(const CastEvent& e) {
    switch (e.kind) {
        case CastEvent::Kind::Connected:
            return Event("cast.connected");
        case CastEvent::Kind::Disconnected:
            return Event("cast.disconnected");
        case CastEvent::Kind::Response: {
            Json::Value frame = Event("cast.response");
            frame["id"] = e.requestId;
            frame["code"] = e.code;
            return frame;
        }
        case CastEvent::Kind::Status:
            return StatusEvent(e.status);
        case CastEvent::Kind::Media:
            return MediaEvent(e.media);
        default:
            break;
    }
    Json::Value frame = Event("cast.callback");
    frame["name"] = model::castEventName(e.kind);
    if (e.kind == CastEvent::Kind::Volume || e.kind == CastEvent::Kind::Mute) {
        frame["value"] = e.value;
    }
    return frame;
}

}  // namespace orvix::sim
