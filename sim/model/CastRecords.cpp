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

Json::Value toJson(const MediaInfoData& info) {
    Json::Value out(Json::objectValue);
    out["streamType"] = info.streamType;
    out["duration"] = info.duration;
    out["metadata"] = info.metadata ? toJson(*info.metadata) : Json::Value(Json::nullValue);
    return out;
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

Json::Value toJson(const MediaStatusData& m) {
    Json::Value out(Json::objectValue);
    out["sessionId"] = m.sessionId;
    out["playerState"] = m.playerState;
    out["currentTime"] = m.currentTime;
    out["idleReason"] = m.idleReason;
    out["mediaInfo"] = m.mediaInfo ? toJson(*m.mediaInfo) : Json::Value(Json::nullValue);
    return out;
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

}  // namespace orvix::model
