#include "sim/model/SetupService.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

SetupService::SetupService(Sequencer& sequencer)
    : mJournal(sequencer, "eureka", [](const Json::Value& r) {
          return "GET " + r["path"].asString() + " -> " +
                 (!r["up"].asBool()    ? std::string("refused (down)")
                  : r["hang"].asBool() ? std::string("held without an answer (hang)")
                                       : r["status"].asString());
      }) {}

void SetupService::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer = SetupAnswer();
    mJournal.clear();
}

void SetupService::setBody(const std::string& body) {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.body = body;
    mJournal.note("body " + quoteJson(body));
}

void SetupService::setStatus(int status) {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.status = status;
    mJournal.note("status " + std::to_string(status));
}

void SetupService::setUp(bool up) {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.up = up;
    mAnswer.hang = false;
    mJournal.note(up ? "up" : "down");
}

void SetupService::setHang() {
    std::lock_guard<std::mutex> guard(mLock);
    mAnswer.up = true;
    mAnswer.hang = true;
    mJournal.note("hang");
}

SetupAnswer SetupService::current() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mAnswer;
}

SetupAnswer SetupService::answer(const std::string& path) {
    std::lock_guard<std::mutex> guard(mLock);
    Json::Value entry(Json::objectValue);
    entry["path"] = path;
    entry["up"] = mAnswer.up;
    entry["status"] = mAnswer.status;
    if (mAnswer.hang) entry["hang"] = true;
    mJournal.log(entry);
    return mAnswer;
}

}  // namespace orvix::model
