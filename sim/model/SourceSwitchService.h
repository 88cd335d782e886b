// The audio source-switch service: who may have the speaker (the grant policy), a record of
// every call the daemon makes, and the notifications it sends to the daemon's listener.
//
// The service learns of the listener from the calls that pass one; until then it has nobody
// to notify. The transport keeps the listener object itself; the model only knows whether
// one is known.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/model/Journal.h"
#include "sim/model/ModelTypes.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

enum class SourceOp {
    PlayMySource,
    UpdatePlayerState,
    NotifyPlaybackStopped,
    DisconnectMySource,
    UpdateAppVolume,
    UpdateAppMuteStat,
};

const char* sourceOpName(SourceOp op);

struct SourceCall {
    Stamp stamp;
    SourceOp op = SourceOp::PlayMySource;
    Json::Value args{Json::arrayValue};
    Json::Value result;
};

// What the transport delivers to the listener.
struct SourceNotification {
    enum class Kind { SourceSwitch, PlayControl, VolumeChange };
    Kind kind = Kind::SourceSwitch;
    // The event word or volume text; empty for a source switch.
    std::string text;
};

// The speaker as the service sees it: who has it, the device volume and mute as last set (by
// the device's own events or by the daemon), and the play state cast last reported.
struct SpeakerView {
    std::string owner = "standby";  // "cast", "other" or "standby"
    std::optional<std::string> volume;
    std::optional<bool> muted;
    std::optional<int32_t> playState;
};

class SourceSwitchService {
public:
    explicit SourceSwitchService(Sequencer& sequencer);

    // Grants again, knows no listener, empty logs.
    void reset();

    // What PlayMySource answers from now on (true by default).
    void setGrant(bool grant);
    bool grant() const;

    // Each records the call; withListener says whether the caller passed a listener.
    bool playMySource(bool withListener, int32_t sourceType);
    int32_t updatePlayerState(bool withListener, int32_t state);
    int32_t notifyPlaybackStopped(bool withListener);
    int32_t disconnectMySource(bool withListener);
    int32_t updateAppVolume(const std::string& volume);
    int32_t updateAppMuteStat(bool muted);

    // A transport that learns of the listener other than through a call (a client that
    // asks for notifications before its first call, or comes back after a restart) says
    // so here; false forgets it (its connection is gone).
    void setListenerKnown(bool known);

    // Records the notification and returns what to deliver; nullopt when no listener is
    // known yet (recorded too, as undeliverable).
    std::optional<SourceNotification> sourceSwitch();
    std::optional<SourceNotification> playControl(const std::string& word);
    std::optional<SourceNotification> volume(const std::string& text);

    std::vector<SourceCall> calls() const;
    SpeakerView speaker() const;

    // [{"seq":N,"op":"...","args":[...],"result":...}]; the grant policy, the listener and the
    // notifications in the timeline only.
    const Journal& journal() const { return mJournal; }

private:
    void recordLocked(SourceOp op, Json::Value args, Json::Value result, bool withListener);
    std::optional<SourceNotification> notify(SourceNotification notification,
                                             const std::string& description);

    Journal mJournal;
    // Guards everything below.
    mutable std::mutex mLock;
    bool mGrant = true;
    bool mHasListener = false;
    SpeakerView mSpeaker;
    std::vector<SourceCall> mCalls;
};

}  // namespace orvix::model
