#include "sim/model/SourceSwitchService.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

const char* sourceOpName(SourceOp op) {
    switch (op) {
        case SourceOp::PlayMySource:
            return "PlayMySource";
        case SourceOp::UpdatePlayerState:
            return "UpdatePlayerState";
        case SourceOp::NotifyPlaybackStopped:
            return "NotifyPlaybackStopped";
        case SourceOp::DisconnectMySource:
            return "DisconnectMySource";
        case SourceOp::UpdateAppVolume:
            return "UpdateAppVolume";
        case SourceOp::UpdateAppMuteStat:
            return "UpdateAppMuteStat";
    }
    return "?";
}

namespace {

Json::Value args0() {
    return Json::Value(Json::arrayValue);
}

Json::Value args1(Json::Value a) {
    Json::Value args(Json::arrayValue);
    args.append(std::move(a));
    return args;
}

}  // namespace

SourceSwitchService::SourceSwitchService(Sequencer& sequencer)
    : mJournal(sequencer, "source", callLine) {}

void SourceSwitchService::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mGrant = true;
    mHasListener = false;
    mSpeaker = SpeakerView();
    mCalls.clear();
    mJournal.clear();
}

void SourceSwitchService::setGrant(bool grant) {
    std::lock_guard<std::mutex> guard(mLock);
    mGrant = grant;
    mJournal.note(grant ? "grant yes" : "grant no");
}

bool SourceSwitchService::grant() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mGrant;
}

bool SourceSwitchService::playMySource(bool withListener, int32_t sourceType) {
    std::lock_guard<std::mutex> guard(mLock);
    const bool granted = mGrant;
    if (granted) mSpeaker.owner = "cast";
    recordLocked(SourceOp::PlayMySource, args1(sourceType), granted, withListener);
    return granted;
}

int32_t SourceSwitchService::updatePlayerState(bool withListener, int32_t state) {
    std::lock_guard<std::mutex> guard(mLock);
    mSpeaker.playState = state;
    recordLocked(SourceOp::UpdatePlayerState, args1(state), 0, withListener);
    return 0;
}

int32_t SourceSwitchService::notifyPlaybackStopped(bool withListener) {
    std::lock_guard<std::mutex> guard(mLock);
    recordLocked(SourceOp::NotifyPlaybackStopped, args0(), 0, withListener);
    return 0;
}

int32_t SourceSwitchService::disconnectMySource(bool withListener) {
    std::lock_guard<std::mutex> guard(mLock);
    mSpeaker.owner = "standby";
    recordLocked(SourceOp::DisconnectMySource, args0(), 0, withListener);
    return 0;
}

int32_t SourceSwitchService::updateAppVolume(const std::string& volume) {
    std::lock_guard<std::mutex> guard(mLock);
    mSpeaker.volume = volume;
    recordLocked(SourceOp::UpdateAppVolume, args1(volume), 0, false);
    return 0;
}

int32_t SourceSwitchService::updateAppMuteStat(bool muted) {
    std::lock_guard<std::mutex> guard(mLock);
    mSpeaker.muted = muted;
    recordLocked(SourceOp::UpdateAppMuteStat, args1(muted), 0, false);
    return 0;
}

void SourceSwitchService::setListenerKnown(bool known) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mHasListener == known) return;
    mHasListener = known;
    mJournal.note(known ? "listener attached" : "listener gone");
}

std::optional<SourceNotification> SourceSwitchService::sourceSwitch() {
    return notify(SourceNotification{SourceNotification::Kind::SourceSwitch, ""}, "switch");
}

std::optional<SourceNotification> SourceSwitchService::playControl(const std::string& word) {
    return notify(SourceNotification{SourceNotification::Kind::PlayControl, word},
                  "play-control " + quoteJson(word));
}

std::optional<SourceNotification> SourceSwitchService::volume(const std::string& text) {
    return notify(SourceNotification{SourceNotification::Kind::VolumeChange, text},
                  "volume " + quoteJson(text));
}

std::optional<SourceNotification> SourceSwitchService::notify(SourceNotification notification,
                                                              const std::string& description) {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mHasListener) {
        mJournal.note("-> " + description + " (no listener yet)");
        return std::nullopt;
    }
    mJournal.note("-> " + description);
    using Kind = SourceNotification::Kind;
    const std::string& text = notification.text;
    if (notification.kind == Kind::SourceSwitch) mSpeaker.owner = "other";
    if (notification.kind == Kind::VolumeChange) mSpeaker.volume = text;
    if (notification.kind == Kind::PlayControl && text == "STANDBYON") mSpeaker.owner = "standby";
    if (notification.kind == Kind::PlayControl && (text == "MUTE" || text == "UNMUTE")) {
        mSpeaker.muted = text == "MUTE";
    }
    return notification;
}

std::vector<SourceCall> SourceSwitchService::calls() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mCalls;
}

SpeakerView SourceSwitchService::speaker() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mSpeaker;
}

void SourceSwitchService::recordLocked(SourceOp op, Json::Value args, Json::Value result,
                                       bool withListener) {
    if (withListener) mHasListener = true;
    Json::Value entry(Json::objectValue);
    entry["op"] = sourceOpName(op);
    entry["args"] = args;
    entry["result"] = result;
    mCalls.push_back(SourceCall{mJournal.log(entry), op, std::move(args), std::move(result)});
}

}  // namespace orvix::model
