// The connection to the cast receiver's control socket, with the observer its events go to.
// One link at a time is the process's current one: the function API (CastCliInit...) and
// the callback variables use it.
#pragma once

#include <json/json.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/cast/CastControl.h"
#include "platform/host/Connection.h"

namespace orvix::host {

class ReceiverLink {
public:
    static constexpr const char* kDefaultPath = "/tmp/cast-control";

    // A link that has made its first connection attempt; it keeps reconnecting either way.
    static std::shared_ptr<ReceiverLink> Open(const std::string& path);
    // The current link; one to kDefaultPath is opened when there is none yet.
    static std::shared_ptr<ReceiverLink> Current();
    static void MakeCurrent(const std::shared_ptr<ReceiverLink>& link);

    ~ReceiverLink();

    bool connected() const { return mConnection.connected(); }
    // Sends "cast.create"; true when the receiver made a control. From then on every new
    // connection repeats it, so a restarted receiver knows the control again.
    bool create();
    // Observer events go to observer from now on (null: dropped). Returns once no call into
    // the previous observer is running on another thread.
    void setObserver(chromecast::CastControl::Observer* observer);
    // "cast.call" with op and args: the integer result, -1 on any failure.
    int32_t call(const char* op, const Json::Value& args);

private:
    explicit ReceiverLink(const std::string& path);
    ReceiverLink(const ReceiverLink&) = delete;
    ReceiverLink& operator=(const ReceiverLink&) = delete;

    bool onEvent(const std::string& name, const Json::Value& frame);
    void onLink(bool up);
    bool sendCreate();

    // Held while the observer is called, so setObserver() cannot return in the middle of a
    // call. Recursive: an observer may replace itself from inside a call.
    std::recursive_mutex mObserverLock;
    chromecast::CastControl::Observer* mObserver = nullptr;
    std::atomic<bool> mCreated{false};
    // Last: its threads, which run the handlers above, stop before the members go.
    Connection mConnection;
};

}  // namespace orvix::host
