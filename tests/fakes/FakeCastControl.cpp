#include "tests/fakes/FakeCastControl.h"

#include "platform/cast/CastCli.h"
#include "tests/fakes/FakeWorld.h"

namespace orvix::fakes {

using model::CastEvent;
using model::CastOp;

// The arguments of a call as the receiver model records them.
template <class... T>
Json::Value Args(T... values) {
    Json::Value args(Json::arrayValue);
    (args.append(Json::Value(values)), ...);
    return args;
}

namespace {

const char* textOrNull(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

void deliverStatus(chromecast::CastControl::Observer* observer, const model::CastStatusData& s) {
    chromecast::RunningApp app{textOrNull(s.appName)};
    const bool withApp = s.appName || s.appWithoutName;
    observer->OnCastStatus({textOrNull(s.name), s.castState, textOrNull(s.buildNumber),
                            textOrNull(s.timezone), textOrNull(s.locale), s.usageReport,
                            withApp ? &app : nullptr});
}

void deliverMedia(chromecast::CastControl::Observer* observer, const model::MediaStatusData& m) {
    chromecast::MediaImage image;
    chromecast::MusicTrackMediaMetadata track;
    chromecast::MediaMetadata metadata;
    chromecast::MediaInfo info;
    if (m.mediaInfo && m.mediaInfo->metadata) {
        const model::MediaMetadataData& md = *m.mediaInfo->metadata;
        const bool withImage = md.imageUrl || md.imageWithoutUrl;
        image.url = textOrNull(md.imageUrl);
        track = {textOrNull(md.albumName), textOrNull(md.albumArtist), textOrNull(md.artist)};
        metadata = {textOrNull(md.title), withImage ? &image : nullptr, withImage ? 1 : 0,
                    md.metadataType, &track};
    }
    if (m.mediaInfo) {
        info = {m.mediaInfo->streamType, m.mediaInfo->duration,
                m.mediaInfo->metadata ? &metadata : nullptr};
    }
    observer->OnMediaStatus(
        {m.sessionId, m.playerState, m.currentTime, m.idleReason, m.mediaInfo ? &info : nullptr});
}

}  // namespace

FakeCastControl::FakeCastControl(Observer* observer) : mObserver(observer) {}

FakeCastControl::~FakeCastControl() {
    Fakes().detachCastControl(this);
}

int32_t FakeCastControl::request(CastOp op, const Json::Value& args) {
    model::CastCallOutcome outcome = Fakes().world().receiver().call(op, args);
    if (outcome.response) Fakes().postCastEvent(*outcome.response);
    return outcome.value;
}

int32_t FakeCastControl::AcceptTos() {
    return request(CastOp::AcceptTos, Args());
}

int32_t FakeCastControl::SetDeviceName(const std::string& name) {
    return request(CastOp::SetDeviceName, Args(name));
}

int32_t FakeCastControl::SetTimezone(const std::string& zone) {
    return request(CastOp::SetTimezone, Args(zone));
}

int32_t FakeCastControl::SetUsageReportOptIn(bool optIn) {
    return request(CastOp::SetUsageReportOptIn, Args(optIn));
}

int32_t FakeCastControl::SendPlayCommand(int32_t command) {
    return request(CastOp::SendPlayCommand, Args(command));
}

int32_t FakeCastControl::RequestCastStatus() {
    return request(CastOp::RequestCastStatus, Args());
}

int32_t FakeCastControl::SetMultizoneDelay(int64_t delayUs) {
    return request(CastOp::SetMultizoneDelay, Args(Json::Int64(delayUs)));
}

void FakeCastControl::Suspend(int32_t reason) {
    Fakes().world().receiver().call(CastOp::Suspend, Args(reason));
}

void FakeCastControl::DeliverToObserver(Observer* observer, const CastEvent& event) {
    switch (event.kind) {
        case CastEvent::Kind::Connected:
            observer->OnControlConnected();
            break;
        case CastEvent::Kind::Disconnected:
            observer->OnControlDisconnected();
            break;
        case CastEvent::Kind::Status:
            deliverStatus(observer, event.status);
            break;
        case CastEvent::Kind::Media:
            deliverMedia(observer, event.media);
            break;
        case CastEvent::Kind::Response:
            observer->OnResponse(event.requestId, event.code);
            break;
        default:
            break;
    }
}

void FakeCastControl::DeliverToCallbackVariable(const CastEvent& event) {
    switch (event.kind) {
        case CastEvent::Kind::Ready:
            if (auto fn = OnCastCliReady) fn();
            break;
        case CastEvent::Kind::RequestResources:
            if (auto fn = OnRequestResources) fn();
            break;
        case CastEvent::Kind::ReleaseResources:
            if (auto fn = OnReleaseResources) fn();
            break;
        case CastEvent::Kind::Volume:
            if (auto fn = OnCastCliVolumeChange) fn(event.value);
            break;
        case CastEvent::Kind::Mute:
            if (auto fn = OnCastCliMuteChange) fn(event.value);
            break;
        default:
            break;
    }
}

void FakeCastControl::ResetCallbackVariables() {
    OnCastCliMuteChange = nullptr;
    OnCastCliVolumeChange = nullptr;
    OnCastCliReady = nullptr;
    OnRequestResources = nullptr;
    OnReleaseResources = nullptr;
    OnCastCliConnect = nullptr;
    OnCastCliDisconnect = nullptr;
}

}  // namespace orvix::fakes

namespace chromecast {

CastControl* CastControl::Create(const std::string& socketPath, Observer* observer) {
    using orvix::fakes::Fakes;
    const Json::Value args = orvix::fakes::Args(socketPath);
    if (Fakes().world().receiver().call(orvix::model::CastOp::Create, args).value == 0) {
        return nullptr;
    }
    auto* control = new orvix::fakes::FakeCastControl(observer);
    Fakes().attachCastControl(control);
    return control;
}

}  // namespace chromecast

namespace {

int cliCall(orvix::model::CastOp op, Json::Value args = orvix::fakes::Args()) {
    return orvix::fakes::Fakes().world().receiver().call(op, args).value;
}

}  // namespace

extern "C" {

// Start null like the library's; the daemon assigns the ones it uses.
void (*OnCastCliMuteChange)(int mute) = nullptr;
void (*OnCastCliVolumeChange)(int volume) = nullptr;
void (*OnCastCliReady)(void) = nullptr;
void (*OnRequestResources)(void) = nullptr;
void (*OnReleaseResources)(void) = nullptr;
void (*OnCastCliConnect)(void) = nullptr;
void (*OnCastCliDisconnect)(void) = nullptr;

int CastCliInit(void) {
    return cliCall(orvix::model::CastOp::CastCliInit);
}
int CastCliExit(void) {
    return cliCall(orvix::model::CastOp::CastCliExit);
}
int CastCliSyncVolume(int32_t volume) {
    return cliCall(orvix::model::CastOp::CastCliSyncVolume, orvix::fakes::Args(volume));
}
int CastCliSyncMute(int32_t mute) {
    return cliCall(orvix::model::CastOp::CastCliSyncMute, orvix::fakes::Args(mute));
}
int GrantResources(void) {
    return cliCall(orvix::model::CastOp::GrantResources);
}
int RevokeResources(void) {
    return cliCall(orvix::model::CastOp::RevokeResources);
}
}
