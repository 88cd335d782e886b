#include "sim/model/CastRecords.h"

#include <cstdio>

#include "sim/model/JsonText.h"

namespace orvix::model {

namespace {

struct KindName {
    CastEvent::Kind kind;
    const char* name;
};

const KindName kKindNames[] = {
    {CastEvent::Kind::Connected, "connect"},
    {CastEvent::Kind::Disconnected, "disconnect"},
    {CastEvent::Kind::Status, "status"},
    {CastEvent::Kind::Media, "media"},
    {CastEvent::Kind::Response, "response"},
    {CastEvent::Kind::Ready, "ready"},
    {CastEvent::Kind::RequestResources, "request-resources"},
    {CastEvent::Kind::ReleaseResources, "release-resources"},
    {CastEvent::Kind::Volume, "volume"},
    {CastEvent::Kind::Mute, "mute"},
};

std::string optionalText(const std::optional<std::string>& text) {
    return text ? quoteJson(*text) : "null";
}

std::string number(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

Json::Value toJson(const MediaMetadataData& m) {
    Json::Value out(Json::objectValue);
    out["title"] = optionalJson(m.title);
    out["artist"] = optionalJson(m.artist);
    out["albumName"] = optionalJson(m.albumName);
    out["albumArtist"] = optionalJson(m.albumArtist);
    out["imageUrl"] = optionalJson(m.imageUrl);
    if (!m.imageUrl && m.imageWithoutUrl) out["imageWithoutUrl"] = true;
    out["metadataType"] = m.metadataType;
    return out;
}

bool fromJson(const Json::Value& json, MediaMetadataData* m) {
    if (!json.isObject()) return false;
    MediaMetadataData out;
    if (!readOptionalString(json, "title", &out.title) ||
        !readOptionalString(json, "artist", &out.artist) ||
        !readOptionalString(json, "albumName", &out.albumName) ||
        !readOptionalString(json, "albumArtist", &out.albumArtist) ||
        !readOptionalString(json, "imageUrl", &out.imageUrl) ||
        !readBool(json, "imageWithoutUrl", &out.imageWithoutUrl) ||
        !readInt32(json, "metadataType", &out.metadataType)) {
        return false;
    }
    *m = std::move(out);
    return true;
}

Json::Value toJson(const MediaInfoData& info) {
    Json::Value out(Json::objectValue);
    out["streamType"] = info.streamType;
    out["duration"] = info.duration;
    out["metadata"] = info.metadata ? toJson(*info.metadata) : Json::Value(Json::nullValue);
    return out;
}

bool fromJson(const Json::Value& json, MediaInfoData* info) {
    if (!json.isObject()) return false;
    MediaInfoData out;
    if (!readInt32(json, "streamType", &out.streamType) ||
        !readDouble(json, "duration", &out.duration)) {
        return false;
    }
    const Json::Value& metadata = json["metadata"];
    if (!metadata.isNull()) {
        MediaMetadataData m;
        if (!fromJson(metadata, &m)) return false;
        out.metadata = std::move(m);
    }
    *info = std::move(out);
    return true;
}

}  // namespace

CastEvent CastEvent::of(Kind kind) {
    CastEvent e;
    e.kind = kind;
    return e;
}

CastEvent CastEvent::statusEvent(const CastStatusData& status) {
    CastEvent e = of(Kind::Status);
    e.status = status;
    return e;
}

CastEvent CastEvent::mediaEvent(const MediaStatusData& media) {
    CastEvent e = of(Kind::Media);
    e.media = media;
    return e;
}

CastEvent CastEvent::response(int32_t requestId, int32_t code) {
    CastEvent e = of(Kind::Response);
    e.requestId = requestId;
    e.code = code;
    return e;
}

CastEvent CastEvent::volume(int32_t value) {
    CastEvent e = of(Kind::Volume);
    e.value = value;
    return e;
}

CastEvent CastEvent::mute(int32_t value) {
    CastEvent e = of(Kind::Mute);
    e.value = value;
    return e;
}

bool CastEvent::forObserver() const {
    switch (kind) {
        case Kind::Connected:
        case Kind::Disconnected:
        case Kind::Status:
        case Kind::Media:
        case Kind::Response:
            return true;
        default:
            return false;
    }
}

std::string CastEvent::describe() const {
    switch (kind) {
        case Kind::Connected:
            return "OnControlConnected()";
        case Kind::Disconnected:
            return "OnControlDisconnected()";
        case Kind::Status:
            return "OnCastStatus(name=" + optionalText(status.name) +
                   " build=" + optionalText(status.buildNumber) +
                   " locale=" + optionalText(status.locale) +
                   " timezone=" + optionalText(status.timezone) +
                   " state=" + std::to_string(status.castState) +
                   " usageReport=" + (status.usageReport ? "1" : "0") + " app=" +
                   (!status.appName && status.appWithoutName ? "record-without-name"
                                                             : optionalText(status.appName)) +
                   ")";
        case Kind::Media: {
            std::string text = "OnMediaStatus(session=" + std::to_string(media.sessionId) +
                               " state=" + std::to_string(media.playerState) +
                               " time=" + number(media.currentTime) +
                               " idle=" + std::to_string(media.idleReason);
            if (media.mediaInfo) {
                const MediaInfoData& info = *media.mediaInfo;
                text += " stream=" + std::to_string(info.streamType) +
                        " duration=" + number(info.duration);
                if (info.metadata) {
                    const MediaMetadataData& m = *info.metadata;
                    text += " title=" + optionalText(m.title) +
                            " artist=" + optionalText(m.artist) +
                            " album=" + optionalText(m.albumName) +
                            " albumArtist=" + optionalText(m.albumArtist) + " image=" +
                            (!m.imageUrl && m.imageWithoutUrl ? "one-without-url"
                                                              : optionalText(m.imageUrl)) +
                            " type=" + std::to_string(m.metadataType);
                }
            }
            return text + ")";
        }
        case Kind::Response:
            return "OnResponse(" + std::to_string(requestId) + ", " + std::to_string(code) + ")";
        case Kind::Ready:
            return "OnCastCliReady()";
        case Kind::RequestResources:
            return "OnRequestResources()";
        case Kind::ReleaseResources:
            return "OnReleaseResources()";
        case Kind::Volume:
            return "OnCastCliVolumeChange(" + std::to_string(value) + ")";
        case Kind::Mute:
            return "OnCastCliMuteChange(" + std::to_string(value) + ")";
    }
    return "?";
}

const char* castEventName(CastEvent::Kind kind) {
    for (const KindName& k : kKindNames) {
        if (k.kind == kind) return k.name;
    }
    return "?";
}

bool castEventKindFromName(const std::string& name, CastEvent::Kind* kind) {
    for (const KindName& k : kKindNames) {
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

Json::Value toJson(const CastStatusData& s) {
    Json::Value out(Json::objectValue);
    out["name"] = optionalJson(s.name);
    out["buildNumber"] = optionalJson(s.buildNumber);
    out["locale"] = optionalJson(s.locale);
    out["timezone"] = optionalJson(s.timezone);
    out["castState"] = s.castState;
    out["usageReport"] = s.usageReport;
    out["appName"] = optionalJson(s.appName);
    if (!s.appName && s.appWithoutName) out["appWithoutName"] = true;
    return out;
}

bool fromJson(const Json::Value& json, CastStatusData* status) {
    if (!json.isObject()) return false;
    CastStatusData out;
    if (!readOptionalString(json, "name", &out.name) ||
        !readOptionalString(json, "buildNumber", &out.buildNumber) ||
        !readOptionalString(json, "locale", &out.locale) ||
        !readOptionalString(json, "timezone", &out.timezone) ||
        !readInt32(json, "castState", &out.castState) ||
        !readBool(json, "usageReport", &out.usageReport) ||
        !readOptionalString(json, "appName", &out.appName) ||
        !readBool(json, "appWithoutName", &out.appWithoutName)) {
        return false;
    }
    *status = std::move(out);
    return true;
}

Json::Value toJson(const MediaStatusData& m) {
    Json::Value out(Json::objectValue);
    out["sessionId"] = m.sessionId;
    out["playerState"] = m.playerState;
    out["currentTime"] = m.currentTime;
    out["idleReason"] = m.idleReason;
    out["mediaInfo"] = m.mediaInfo ? toJson(*m.mediaInfo) : Json::Value(Json::nullValue);
    return out;
}

bool fromJson(const Json::Value& json, MediaStatusData* media) {
    if (!json.isObject()) return false;
    MediaStatusData out;
    if (!readInt32(json, "sessionId", &out.sessionId) ||
        !readInt32(json, "playerState", &out.playerState) ||
        !readDouble(json, "currentTime", &out.currentTime) ||
        !readInt32(json, "idleReason", &out.idleReason)) {
        return false;
    }
    const Json::Value& info = json["mediaInfo"];
    if (!info.isNull()) {
        MediaInfoData i;
        if (!fromJson(info, &i)) return false;
        out.mediaInfo = std::move(i);
    }
    *media = std::move(out);
    return true;
}

Json::Value toJson(const CastEvent& e) {
    Json::Value out(Json::objectValue);
    out["event"] = castEventName(e.kind);
    switch (e.kind) {
        case CastEvent::Kind::Status:
            out["status"] = toJson(e.status);
            break;
        case CastEvent::Kind::Media:
            out["media"] = toJson(e.media);
            break;
        case CastEvent::Kind::Response:
            out["requestId"] = e.requestId;
            out["code"] = e.code;
            break;
        case CastEvent::Kind::Volume:
        case CastEvent::Kind::Mute:
            out["value"] = e.value;
            break;
        default:
            break;
    }
    return out;
}

bool fromJson(const Json::Value& json, CastEvent* event) {
    if (!json.isObject()) return false;
    const Json::Value& name = json["event"];
    CastEvent out;
    if (!name.isString() || !castEventKindFromName(name.asString(), &out.kind)) return false;
    switch (out.kind) {
        case CastEvent::Kind::Status:
            if (!fromJson(json["status"], &out.status)) return false;
            break;
        case CastEvent::Kind::Media:
            if (!fromJson(json["media"], &out.media)) return false;
            break;
        case CastEvent::Kind::Response:
            if (!json["requestId"].isInt() || !json["code"].isInt()) return false;
            out.requestId = json["requestId"].asInt();
            out.code = json["code"].asInt();
            break;
        case CastEvent::Kind::Volume:
        case CastEvent::Kind::Mute:
            if (!json["value"].isInt()) return false;
            out.value = json["value"].asInt();
            break;
        default:
            break;
    }
    *event = std::move(out);
    return true;
}

}  // namespace orvix::model
