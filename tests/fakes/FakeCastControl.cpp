#include "tests/fakes/FakeCastControl.h"

#include "platform/cast/CastCli.h"
#include "tests/fakes/FakeWorld.h"

namespace orvix::fakes {

using model::CastEvent;

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

int32_t FakeCastControl::Call(Op op, const Json::Value& args) {
    model::CastCallOutcome outcome = Fakes().world().receiver().call(op, args);
    if (outcome.response) Fakes().postCastEvent(*outcome.response);
    return outcome.value;
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
    using orvix::fakes::FakeCastControl;
    if (FakeCastControl::Call(FakeCastControl::Op::Create, orvix::fakes::Args(socketPath)) == 0) {
        return nullptr;
    }
    auto* control = new FakeCastControl(observer);
    orvix::fakes::Fakes().attachCastControl(control);
    return control;
}

}  // namespace chromecast

using orvix::fakes::Args;
using Fake = orvix::fakes::FakeCastControl;

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
    return Fake::Call(Fake::Op::CastCliInit);
}
int CastCliExit(void) {
    return Fake::Call(Fake::Op::CastCliExit);
}
int CastCliSyncVolume(int32_t volume) {
    return Fake::Call(Fake::Op::CastCliSyncVolume, Args(volume));
}
int CastCliSyncMute(int32_t mute) {
    return Fake::Call(Fake::Op::CastCliSyncMute, Args(mute));
}
int GrantResources(void) {
    return Fake::Call(Fake::Op::GrantResources);
}
int RevokeResources(void) {
    return Fake::Call(Fake::Op::RevokeResources);
}
}
