#include "platform/android/ALooperRoster.h"

#include <map>
#include <mutex>

namespace android {

namespace {

struct Entry {
    wp<AHandler> handler;
    wp<ALooper> looper;
};

struct Roster {
    std::mutex lock;
    std::map<handler_id, Entry> entries;
    handler_id nextId = 1;
};

// Never destroyed: looper threads may still post or deliver during static destruction.
Roster& TheRoster() {
    static Roster* const roster = new Roster();
    return *roster;
}

}  // namespace

handler_id ALooperRoster::RegisterHandler(ALooper* looper, const sp<AHandler>& handler) {
    if (handler == nullptr || looper == nullptr) return INVALID_OPERATION;
    Roster& roster = TheRoster();
    std::lock_guard<std::mutex> lock(roster.lock);
    if (handler->id() != 0) return INVALID_OPERATION;
    const handler_id id = roster.nextId++;
    const wp<ALooper> weakLooper(looper);
    roster.entries[id] = Entry{handler, weakLooper};
    handler->setID(id, weakLooper);
    return id;
}

void ALooperRoster::UnregisterHandler(handler_id id) {
    // Released after the roster's lock: it may be the handler's last reference.
    sp<AHandler> handler;
    Roster& roster = TheRoster();
    std::lock_guard<std::mutex> lock(roster.lock);
    auto it = roster.entries.find(id);
    if (it == roster.entries.end()) return;
    handler = it->second.handler.promote();
    if (handler != nullptr) handler->setID(0, wp<ALooper>());
    roster.entries.erase(it);
}

void ALooperRoster::ForgetLooper(const ALooper* looper) {
    Roster& roster = TheRoster();
    std::lock_guard<std::mutex> lock(roster.lock);
    for (auto it = roster.entries.begin(); it != roster.entries.end();) {
        if (it->second.looper.unsafe_get() == looper) {
            it = roster.entries.erase(it);
        } else {
            ++it;
        }
    }
}

status_t ALooperRoster::PostMessage(const sp<AMessage>& msg, int64_t delayUs) {
    if (msg == nullptr) return BAD_VALUE;
    // Declared before the lock so that it is released after it: it may be the handler's last
    // reference, and a handler's destructor may unregister itself.
    sp<AHandler> handler;
    Roster& roster = TheRoster();
    std::lock_guard<std::mutex> lock(roster.lock);
    auto it = roster.entries.find(msg->target());
    if (it == roster.entries.end()) return NAME_NOT_FOUND;
    handler = it->second.handler.promote();
    if (handler == nullptr) {
        roster.entries.erase(it);
        return NAME_NOT_FOUND;
    }
    // A looper's destructor forgets its entries under this lock, so while the entry is here
    // the looper is whole even if its last reference is already gone (the message then goes
    // with its queue). No reference is taken: a poster must never be the one that destroys a
    // looper, which would stop it from another thread while it may still deliver.
    ALooper* looper = it->second.looper.unsafe_get();
    if (looper == nullptr) return NAME_NOT_FOUND;
    looper->post(msg, handler, delayUs);
    return OK;
}

void ALooperRoster::DeliverMessage(const sp<AMessage>& msg, const wp<AHandler>& handler,
                                   handler_id id) {
    // Unregistering clears the handler's id, and ids are never reused: a handler that is still
    // there under the same id is still registered, without a look-up under the roster's lock
    // (which the posting threads take).
    sp<AHandler> target = handler.promote();
    if (target == nullptr || target->id() != id) return;
    try {
        target->onMessageReceived(msg);
    } catch (...) {
        // A handler's exception must not end the looper thread; the message is dropped.
    }
}

sp<ALooper> ALooperRoster::LooperOf(const AHandler& handler) {
    Roster& roster = TheRoster();
    std::lock_guard<std::mutex> lock(roster.lock);
    return handler.mLooper.promote();
}

sp<ALooper> AHandler::looper() const {
    return ALooperRoster::LooperOf(*this);
}

void AHandler::setID(handler_id id, const wp<ALooper>& looper) {
    mID.store(id, std::memory_order_release);
    mLooper = looper;
}

}  // namespace android
