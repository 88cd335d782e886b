// The simulated cast receiver: its policies (refused operations, request ids, automatic
// responses), the record of every operation the daemon calls, and the record of every
// event it sends back. The transport delivers the events; the model decides and records.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/model/CastRecords.h"
#include "sim/model/Journal.h"
#include "sim/model/ModelTypes.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

enum class CastOp {
    Create,
    AcceptTos,
    SetDeviceName,
    SetTimezone,
    SetUsageReportOptIn,
    SendPlayCommand,
    RequestCastStatus,
    SetMultizoneDelay,
    Suspend,
    CastCliInit,
    CastCliExit,
    CastCliSyncVolume,
    CastCliSyncMute,
    GrantResources,
    RevokeResources,
};

const char* castOpName(CastOp op);
bool castOpFromName(const std::string& name, CastOp* op);

struct CastCall {
    Stamp stamp;
    CastOp op = CastOp::Create;
    Json::Value args{Json::arrayValue};
    Json::Value result;
};

struct CastCallOutcome {
    // Create: 1 made, 0 refused. Request operations: the request id, -1 refused. Function
    // API: 0, -1 refused. Suspend: 0.
    int32_t value = 0;
    // The automatic response to deliver once the call has returned.
    std::optional<CastEvent> response;
};

struct CastEventRecord {
    Stamp stamp;
    CastEvent event;
};

class Receiver {
public:
    explicit Receiver(Sequencer& sequencer);

    // Nothing refused, request ids from 1, no automatic response, empty logs.
    void reset();

    // An operation name, "all" or "none". False (nothing changed) for an unknown name.
    bool refuse(const std::string& what);
    bool refused(CastOp op) const;

    // Answer every accepted request with code from now on; nullopt turns it off.
    void setAutoRespond(std::optional<int32_t> code);
    std::optional<int32_t> autoRespond() const;
    // The id the next accepted request gets.
    int32_t nextRequestId() const;

    // Applies the policy to one call of the daemon and records it. args is the JSON array
    // of the call's arguments as the log shows them.
    CastCallOutcome call(CastOp op, const Json::Value& args);

    // A remark for the timeline about the receiver as a whole (its socket came or went).
    void note(const std::string& text);

    // Records an event the transport is about to deliver, and returns it.
    CastEvent recordEvent(const CastEvent& event);

    std::vector<CastCall> calls() const;
    std::vector<CastEventRecord> events() const;

    // [{"seq":N,"op":"...","args":[...],"result":...}]; the events, the policies and the
    // socket in the timeline only.
    const Journal& journal() const { return mJournal; }

private:
    Journal mJournal;
    // Guards everything below.
    mutable std::mutex mLock;
    std::set<CastOp> mRefused;
    int32_t mNextRequestId = 1;
    std::optional<int32_t> mAutoRespond;
    std::vector<CastCall> mCalls;
    std::vector<CastEventRecord> mEvents;
};

}  // namespace orvix::model
