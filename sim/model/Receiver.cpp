#include "sim/model/Receiver.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

namespace {

struct OpName {
    CastOp op;
    const char* name;
};

const OpName kOpNames[] = {
    {CastOp::Create, "Create"},
    {CastOp::AcceptTos, "AcceptTos"},
    {CastOp::SetDeviceName, "SetDeviceName"},
    {CastOp::SetTimezone, "SetTimezone"},
    {CastOp::SetUsageReportOptIn, "SetUsageReportOptIn"},
    {CastOp::SendPlayCommand, "SendPlayCommand"},
    {CastOp::RequestCastStatus, "RequestCastStatus"},
    {CastOp::SetMultizoneDelay, "SetMultizoneDelay"},
    {CastOp::Suspend, "Suspend"},
    {CastOp::CastCliInit, "CastCliInit"},
    {CastOp::CastCliExit, "CastCliExit"},
    {CastOp::CastCliSyncVolume, "CastCliSyncVolume"},
    {CastOp::CastCliSyncMute, "CastCliSyncMute"},
    {CastOp::GrantResources, "GrantResources"},
    {CastOp::RevokeResources, "RevokeResources"},
};

// The object operations that send a request and so answer with a request id.
bool isRequest(CastOp op) {
    switch (op) {
        case CastOp::AcceptTos:
        case CastOp::SetDeviceName:
        case CastOp::SetTimezone:
        case CastOp::SetUsageReportOptIn:
        case CastOp::SendPlayCommand:
        case CastOp::RequestCastStatus:
        case CastOp::SetMultizoneDelay:
            return true;
        default:
            return false;
    }
}

}  // namespace

const char* castOpName(CastOp op) {
    for (const OpName& o : kOpNames) {
        if (o.op == op) return o.name;
    }
    return "?";
}

bool castOpFromName(const std::string& name, CastOp* op) {
    for (const OpName& o : kOpNames) {
        if (name == o.name) {
            *op = o.op;
            return true;
        }
    }
    return false;
}

Receiver::Receiver(Sequencer& sequencer) : mJournal(sequencer, "cast", callLine) {}

void Receiver::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mRefused.clear();
    mNextRequestId = 1;
    mAutoRespond.reset();
    mCalls.clear();
    mEvents.clear();
    mJournal.clear();
}

bool Receiver::refuse(const std::string& what) {
    std::lock_guard<std::mutex> guard(mLock);
    CastOp op;
    if (what == "none") {
        mRefused.clear();
    } else if (what == "all") {
        for (const OpName& o : kOpNames) mRefused.insert(o.op);
    } else if (castOpFromName(what, &op)) {
        mRefused.insert(op);
    } else {
        return false;
    }
    mJournal.note("refuse " + what);
    return true;
}

bool Receiver::refused(CastOp op) const {
    std::lock_guard<std::mutex> guard(mLock);
    return mRefused.count(op) != 0;
}

void Receiver::setAutoRespond(std::optional<int32_t> code) {
    std::lock_guard<std::mutex> guard(mLock);
    mAutoRespond = code;
    mJournal.note(code ? "auto-respond " + std::to_string(*code) : "auto-respond off");
}

std::optional<int32_t> Receiver::autoRespond() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mAutoRespond;
}

int32_t Receiver::nextRequestId() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mNextRequestId;
}

CastCallOutcome Receiver::call(CastOp op, const Json::Value& args) {
    std::lock_guard<std::mutex> guard(mLock);
    const bool refusedOp = mRefused.count(op) != 0;
    CastCallOutcome outcome;
    Json::Value result;
    if (op == CastOp::Create) {
        outcome.value = refusedOp ? 0 : 1;
        result = !refusedOp;
    } else if (op == CastOp::Suspend) {
        // Suspend answers nothing, so there is nothing to refuse.
        outcome.value = 0;
    } else if (isRequest(op)) {
        outcome.value = refusedOp ? -1 : mNextRequestId++;
        result = outcome.value;
    } else {
        outcome.value = refusedOp ? -1 : 0;
        result = outcome.value;
    }
    Json::Value entry(Json::objectValue);
    entry["op"] = castOpName(op);
    entry["args"] = args.isArray() ? args : Json::Value(Json::arrayValue);
    entry["result"] = result;
    mCalls.push_back(CastCall{mJournal.log(entry), op, entry["args"], result});
    if (isRequest(op) && outcome.value != -1 && mAutoRespond) {
        outcome.response = CastEvent::response(outcome.value, *mAutoRespond);
        mEvents.push_back(CastEventRecord{mJournal.note("-> " + outcome.response->describe()),
                                          *outcome.response});
    }
    return outcome;
}

void Receiver::note(const std::string& text) {
    std::lock_guard<std::mutex> guard(mLock);
    mJournal.note(text);
}

CastEvent Receiver::recordEvent(const CastEvent& event) {
    std::lock_guard<std::mutex> guard(mLock);
    mEvents.push_back(CastEventRecord{mJournal.note("-> " + event.describe()), event});
    return event;
}

std::vector<CastCall> Receiver::calls() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mCalls;
}

std::vector<CastEventRecord> Receiver::events() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mEvents;
}

}  // namespace orvix::model
