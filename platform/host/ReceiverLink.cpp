#include "platform/host/ReceiverLink.h"

#include "platform/host/CastEvents.h"

namespace orvix::host {

namespace {

struct CurrentSlot {
    std::mutex lock;
    std::shared_ptr<ReceiverLink> link;
};

// Destroyed at exit, after main, which joins the current link's threads.
CurrentSlot& Slot() {
    static CurrentSlot slot;
    return slot;
}

}  // namespace

std::shared_ptr<ReceiverLink> ReceiverLink::Open(const std::string& path) {
    std::shared_ptr<ReceiverLink> link(new ReceiverLink(path));
    link->mConnection.start();
    return link;
}

std::shared_ptr<ReceiverLink> ReceiverLink::Current() {
    CurrentSlot& slot = Slot();
    std::lock_guard<std::mutex> lock(slot.lock);
    if (!slot.link) slot.link = Open(kDefaultPath);
    return slot.link;
}

void ReceiverLink::MakeCurrent(const std::shared_ptr<ReceiverLink>& link) {
    std::shared_ptr<ReceiverLink> previous;
    CurrentSlot& slot = Slot();
    {
        std::lock_guard<std::mutex> lock(slot.lock);
        previous = std::move(slot.link);
        slot.link = link;
    }
    // previous may be the last reference; it goes outside the slot's lock.
}

ReceiverLink::ReceiverLink(const std::string& path)
    : mConnection(
          path,
          [this](const std::string& name, const Json::Value& frame) {
              return onEvent(name, frame);
          },
          [this](bool up) { onLink(up); }) {}

ReceiverLink::~ReceiverLink() = default;

bool ReceiverLink::create() {
    if (!sendCreate()) return false;
    mCreated = true;
    return true;
}

bool ReceiverLink::sendCreate() {
    Json::Value args(Json::objectValue);
    args["path"] = mConnection.path();
    Json::Value made;
    return mConnection.call("cast.create", args, &made) && made.isBool() && made.asBool();
}

void ReceiverLink::setObserver(chromecast::CastControl::Observer* observer) {
    std::lock_guard<std::recursive_mutex> lock(mObserverLock);
    mObserver = observer;
}

int32_t ReceiverLink::call(const char* op, const Json::Value& args) {
    Json::Value request(Json::objectValue);
    request["op"] = op;
    request["args"] = args;
    Json::Value result;
    if (!mConnection.call("cast.call", request, &result) || !result.isInt()) return -1;
    return result.asInt();
}

// Dispatcher thread. A restarted receiver has no control until it is asked again.
void ReceiverLink::onLink(bool up) {
    if (up && mCreated) sendCreate();
}

// Dispatcher thread: the cast library's callback thread as the daemon sees it.
bool ReceiverLink::onEvent(const std::string& name, const Json::Value& frame) {
    if (name == "cast.callback") return DeliverCliCallback(frame);
    std::lock_guard<std::recursive_mutex> lock(mObserverLock);
    if (mObserver == nullptr) return true;
    return DeliverObserverEvent(*mObserver, name, frame);
}

}  // namespace orvix::host
