#include "sim/model/SetupService.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

SetupService::SetupService(Sequencer& sequencer) : mSequencer(sequencer) {}

void SetupService::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer = SetupAnswer();
    mRequests.clear();
    mNotes.clear();
}

void SetupService::setBody(const std::string& body) {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.body = body;
    mNotes.push_back(Note{mSequencer.next(), "body " + quoteJson(body)});
}

void SetupService::setStatus(int status) {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.status = status;
    mNotes.push_back(Note{mSequencer.next(), "status " + std::to_string(status)});
}

void SetupService::setUp(bool up) {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.up = up;
    mAnswer.hang = false;
    mNotes.push_back(Note{mSequencer.next(), up ? "up" : "down"});
}

void SetupService::setHang() {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.up = true;
    mAnswer.hang = true;
    mNotes.push_back(Note{mSequencer.next(), "hang"});
}

SetupAnswer SetupService::current() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mAnswer;
}

SetupAnswer SetupService::answer(const std::string& path) {
    std::lock_guard<std::mutex> guard(mLock);
    mRequests.push_back(SetupRequest{mSequencer.next(), path, mAnswer});
    return mAnswer;
}

std::vector<SetupRequest> SetupService::requests() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mRequests;
}

Json::Value SetupService::logJson() const {
    std::lock_guard<std::mutex> guard(mLock);
    Json::Value out(Json::arrayValue);
    for (const SetupRequest& r : mRequests) {
        Json::Value entry(Json::objectValue);
        entry["seq"] = Json::Int64(r.stamp.seq);
        entry["path"] = r.path;
        entry["up"] = r.answer.up;
        entry["status"] = r.answer.status;
        if (r.answer.hang) entry["hang"] = true;
        out.append(entry);
    }
    return out;
}

void SetupService::collectTimeline(std::vector<TimelineEntry>* out) const {
    std::lock_guard<std::mutex> guard(mLock);
    for (const SetupRequest& r : mRequests) {
        std::string text = "GET " + r.path + " -> ";
        if (!r.answer.up) {
            text += "refused (down)";
        } else if (r.answer.hang) {
            text += "held without an answer (hang)";
        } else {
            text += std::to_string(r.answer.status) + " " + quoteJson(r.answer.body);
        }
        out->push_back(timelineEntry(r.stamp, "eureka", text));
    }
    for (const Note& n : mNotes) out->push_back(timelineEntry(n.stamp, "eureka", n.text));
}

}  // namespace orvix::model
