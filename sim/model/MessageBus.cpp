#include "sim/model/MessageBus.h"

#include <algorithm>

#include "sim/model/JsonText.h"

namespace orvix::model {

namespace {

std::string midList(const std::vector<int32_t>& mids) {
    std::string text;
    for (int32_t mid : mids) {
        if (!text.empty()) text += ",";
        text += std::to_string(mid);
    }
    return text;
}

}  // namespace

MessageBus::MessageBus(Sequencer& sequencer)
    : mJournal(sequencer, "bus", [](const Json::Value& w) {
          return w["from"].asString() + " wrote MID " + w["mid"].asString() + " (" +
                 w["scope"].asString() + "): " + quoteJson(w["payload"].asString());
      }) {}

void MessageBus::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mReachable = true;
    mPayloads.clear();
    mListeners.clear();
    mWrites.clear();
    mJournal.clear();
}

std::string MessageBus::newClientId() {
    std::lock_guard<std::mutex> guard(mLock);
    return "vemo-" + std::to_string(++mLastClientId);
}

void MessageBus::setReachable(bool reachable) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mReachable == reachable) return;
    mReachable = reachable;
    mJournal.note(reachable ? "up" : "down");
}

bool MessageBus::reachable() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mReachable;
}

bool MessageBus::registerListener(const std::string& client, const std::vector<int32_t>& mids) {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mReachable) return false;
    auto it = std::find_if(mListeners.begin(), mListeners.end(),
                           [&](const Listener& l) { return l.client == client; });
    if (it == mListeners.end()) {
        mListeners.push_back(Listener{client, {}});
        it = mListeners.end() - 1;
    }
    for (int32_t mid : mids) {
        if (std::find(it->mids.begin(), it->mids.end(), mid) == it->mids.end()) {
            it->mids.push_back(mid);
        }
    }
    // A registration of nothing leaves no listener behind.
    if (it->mids.empty()) mListeners.erase(it);
    mJournal.note(client + " registered " + midList(mids));
    return true;
}

void MessageBus::unregisterListener(const std::string& client, const std::vector<int32_t>& mids) {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = std::find_if(mListeners.begin(), mListeners.end(),
                           [&](const Listener& l) { return l.client == client; });
    if (it == mListeners.end()) return;
    auto& own = it->mids;
    own.erase(std::remove_if(own.begin(), own.end(),
                             [&](int32_t mid) {
                                 return std::find(mids.begin(), mids.end(), mid) != mids.end();
                             }),
              own.end());
    if (own.empty()) mListeners.erase(it);
    mJournal.note(client + " unregistered " + midList(mids));
}

void MessageBus::dropClient(const std::string& client) {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = std::find_if(mListeners.begin(), mListeners.end(),
                           [&](const Listener& l) { return l.client == client; });
    if (it == mListeners.end()) return;
    mListeners.erase(it);
    mJournal.note(client + " closed");
}

std::vector<int32_t> MessageBus::midsOf(const std::string& client) const {
    std::lock_guard<std::mutex> guard(mLock);
    for (const Listener& l : mListeners) {
        if (l.client == client) return l.mids;
    }
    return {};
}

bool MessageBus::write(const std::string& client, Origin from, Scope scope, int32_t mid,
                       const std::string& payload, std::vector<BusAlert>* alerts) {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mReachable) return false;
    mPayloads[mid] = payload;
    Json::Value entry(Json::objectValue);
    entry["mid"] = mid;
    entry["payload"] = payload;
    entry["from"] = originName(from);
    entry["scope"] = scopeName(scope);
    mWrites.push_back(BusWrite{mJournal.log(entry), mid, payload, from, scope, client});
    if (alerts == nullptr) return true;
    for (const Listener& l : mListeners) {
        if (l.client == client) continue;
        if (std::find(l.mids.begin(), l.mids.end(), mid) != l.mids.end()) {
            alerts->push_back(BusAlert{l.client, mid, payload});
        }
    }
    return true;
}

bool MessageBus::read(int32_t mid, std::string* payload) const {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mReachable) return false;
    auto it = mPayloads.find(mid);
    *payload = it == mPayloads.end() ? std::string() : it->second;
    return true;
}

std::string MessageBus::payload(int32_t mid) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mPayloads.find(mid);
    return it == mPayloads.end() ? std::string() : it->second;
}

std::vector<BusWrite> MessageBus::writes() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mWrites;
}

std::optional<BusWrite> MessageBus::lastWrite(int32_t mid) const {
    std::lock_guard<std::mutex> guard(mLock);
    for (auto it = mWrites.rbegin(); it != mWrites.rend(); ++it) {
        if (it->mid == mid) return *it;
    }
    return std::nullopt;
}

Json::Value MessageBus::readJson(int32_t mid) const {
    Json::Value out(Json::objectValue);
    out["mid"] = mid;
    out["payload"] = payload(mid);
    return out;
}

Json::Value MessageBus::listenersJson() const {
    std::lock_guard<std::mutex> guard(mLock);
    Json::Value out(Json::arrayValue);
    for (const Listener& l : mListeners) {
        Json::Value entry(Json::objectValue);
        entry["client"] = l.client;
        entry["mids"] = Json::Value(Json::arrayValue);
        for (int32_t mid : l.mids) entry["mids"].append(mid);
        out.append(entry);
    }
    return out;
}

}  // namespace orvix::model
