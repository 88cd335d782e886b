#include "platform/host/CastEvents.h"

#include "platform/cast/CastCli.h"

namespace orvix::host {

namespace {

using chromecast::CastControl;

// A text member of a record: null when the member is absent or JSON null.
class Text {
public:
    bool read(const Json::Value& object, const char* key) {
        const Json::Value& value = object[key];
        if (value.isNull()) return true;
        if (!value.isString()) return false;
        mValue = value.asString();
        mPresent = true;
        return true;
    }
    const char* get() const { return mPresent ? mValue.c_str() : nullptr; }

private:
    std::string mValue;
    bool mPresent = false;
};

// Absent members keep the record's default.
bool ReadInt(const Json::Value& object, const char* key, int32_t* out) {
    const Json::Value& value = object[key];
    if (value.isNull()) return true;
    if (!value.isInt()) return false;
    *out = value.asInt();
    return true;
}

bool ReadDouble(const Json::Value& object, const char* key, double* out) {
    const Json::Value& value = object[key];
    if (value.isNull()) return true;
    if (!value.isNumeric()) return false;
    *out = value.asDouble();
    return true;
}

bool ReadBool(const Json::Value& object, const char* key, bool* out) {
    const Json::Value& value = object[key];
    if (value.isNull()) return true;
    if (!value.isBool()) return false;
    *out = value.asBool();
    return true;
}

bool CastStatusEvent(CastControl::Observer& observer, const Json::Value& frame) {
    chromecast::CastStatus status;
    Text name, build, locale, timezone, app;
    if (!name.read(frame, "name") || !build.read(frame, "build") || !locale.read(frame, "locale") ||
        !timezone.read(frame, "timezone") || !app.read(frame, "app") ||
        !ReadInt(frame, "state", &status.castState) ||
        !ReadBool(frame, "usageReport", &status.usageReport)) {
        return false;
    }
    status.name = name.get();
    status.buildNumber = build.get();
    status.locale = locale.get();
    status.timezone = timezone.get();
    // "app":null is a running-app record without a name; no "app" is no record at all.
    chromecast::RunningApp running;
    if (frame.isMember("app")) {
        running.appName = app.get();
        status.runningApp = &running;
    }
    observer.OnCastStatus(status);
    return true;
}

bool MediaStatusEvent(CastControl::Observer& observer, const Json::Value& frame) {
    chromecast::MediaStatus status;
    if (!ReadInt(frame, "session", &status.mediaSessionId) ||
        !ReadInt(frame, "state", &status.playerState) ||
        !ReadDouble(frame, "time", &status.currentTime) ||
        !ReadInt(frame, "idleReason", &status.idleReason)) {
        return false;
    }
    chromecast::MediaInfo info;
    chromecast::MediaMetadata metadata;
    chromecast::MusicTrackMediaMetadata track;
    chromecast::MediaImage image;
    Text title, artist, album, albumArtist, url;
    const Json::Value& infoJson = frame["info"];
    if (!infoJson.isNull()) {
        if (!infoJson.isObject() || !ReadInt(infoJson, "streamType", &info.streamType) ||
            !ReadDouble(infoJson, "duration", &info.duration)) {
            return false;
        }
        status.mediaInfo = &info;
        const Json::Value& meta = infoJson["metadata"];
        if (!meta.isNull()) {
            if (!meta.isObject() || !title.read(meta, "title") || !artist.read(meta, "artist") ||
                !album.read(meta, "album") || !albumArtist.read(meta, "albumArtist") ||
                !url.read(meta, "image") ||
                !ReadInt(meta, "metadataType", &metadata.metadataType)) {
                return false;
            }
            metadata.title = title.get();
            track.albumName = album.get();
            track.albumArtist = albumArtist.get();
            track.artist = artist.get();
            metadata.musicTrack = &track;
            // "image":null is one image without a URL; no "image" is no image.
            if (meta.isMember("image")) {
                image.url = url.get();
                metadata.images = &image;
                metadata.imageCount = 1;
            }
            info.metadata = &metadata;
        }
    }
    observer.OnMediaStatus(status);
    return true;
}

template <typename F>
void Invoke(F* callback) {
    if (callback != nullptr) callback();
}

template <typename F>
void Invoke(F* callback, int value) {
    if (callback != nullptr) callback(value);
}

}  // namespace

bool DeliverObserverEvent(CastControl::Observer& observer, const std::string& name,
                          const Json::Value& frame) {
    if (name == "cast.connected") {
        observer.OnControlConnected();
    } else if (name == "cast.disconnected") {
        observer.OnControlDisconnected();
    } else if (name == "cast.response") {
        const Json::Value& id = frame["id"];
        const Json::Value& code = frame["code"];
        if (!id.isInt() || !code.isInt()) return false;
        observer.OnResponse(id.asInt(), code.asInt());
    } else if (name == "cast.status") {
        return CastStatusEvent(observer, frame);
    } else if (name == "cast.media") {
        return MediaStatusEvent(observer, frame);
    }
    return true;
}

bool DeliverCliCallback(const Json::Value& frame) {
    const Json::Value& nameJson = frame["name"];
    if (!nameJson.isString()) return false;
    const std::string name = nameJson.asString();
    if (name == "volume" || name == "mute") {
        const Json::Value& value = frame["value"];
        if (!value.isInt()) return false;
        Invoke(name == "volume" ? OnCastCliVolumeChange : OnCastCliMuteChange, value.asInt());
    } else if (name == "ready") {
        Invoke(OnCastCliReady);
    } else if (name == "request-resources") {
        Invoke(OnRequestResources);
    } else if (name == "release-resources") {
        Invoke(OnReleaseResources);
    } else if (name == "connect") {
        Invoke(OnCastCliConnect);
    } else if (name == "disconnect") {
        Invoke(OnCastCliDisconnect);
    }
    return true;
}

}  // namespace orvix::host
