// A client connection to one of the simulator's Unix sockets, speaking its framed protocol:
// requests with replies matched by id, and events pushed by the simulator.
//
// Threads: a reader thread owns the socket's read side (and reconnects every 500 ms after
// a loss); a dispatcher thread runs the owner's handlers one at a time in arrival order.
// Because replies are matched on the reader thread, a handler may itself call() and wait.
#pragma once

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvix::host {

class Connection {
public:
    // Runs on the dispatcher thread for each event frame. Returning false marks the frame as
    // malformed: the connection it arrived on is closed (and later reconnected).
    using EventHandler = std::function<bool(const std::string& name, const Json::Value& frame)>;
    // Runs on the dispatcher thread: true when the reader thread connected again after a loss
    // (the place to re-send whatever the peer must know), false when the link was lost.
    using LinkHandler = std::function<void(bool up)>;

    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};
    static constexpr std::chrono::milliseconds kReconnectInterval{500};
    // How long a call made while the link is down waits for it to come back.
    static constexpr std::chrono::milliseconds kLinkWait{3000};
    static constexpr uint32_t kMaxFrame = 4u * 1024u * 1024u;

    // Handlers may be empty. They must stay valid until the destructor has returned; an owner
    // that hands in its own members declares the connection last so it is destroyed first.
    Connection(std::string path, EventHandler onEvent, LinkHandler onLink);
    // Stops and joins both threads; pending calls fail. Must not run on the dispatcher thread.
    ~Connection();

    // One synchronous connection attempt, then the threads start (they keep reconnecting when
    // the attempt failed). True when connected now. Call once.
    bool start();
    bool connected() const;
    const std::string& path() const { return mPath; }

    // Sends {"id","op","args"} and waits for the reply with that id. True, with *result set,
    // when the peer answered ok:true; false on ok:false, timeout, a connection lost meanwhile,
    // or one that is still down kLinkWait after the call.
    bool call(const std::string& op, const Json::Value& args, Json::Value* result = nullptr,
              std::chrono::milliseconds timeout = kDefaultTimeout);

private:
    struct Pending {
        bool done = false;
        bool ok = false;
        Json::Value result;
    };

    void readerLoop();
    void dispatcherLoop();
    // Reads frames from fd until EOF, an error or a protocol violation.
    void readFrames(int fd, uint64_t generation);
    // False when the frame breaks the protocol.
    bool handleFrame(const Json::Value& frame, uint64_t generation);
    bool writeFrame(const std::string& bytes, uint64_t generation);
    // Closes the socket, fails pending calls and tells the owner the link is down.
    void drop();
    // Shuts the socket of that generation down so the reader drops it.
    void abort(uint64_t generation);
    void enqueueLocked(std::function<void()> work);

    const std::string mPath;
    const EventHandler mOnEvent;
    const LinkHandler mOnLink;

    // Serialises whole frames on the socket. Taken before mLock; the reader closes the socket
    // only while holding it, so a writer's fd stays valid for the whole frame.
    std::mutex mWriteLock;
    // Guards every member below.
    mutable std::mutex mLock;
    std::condition_variable mStopWake;  // the reader's reconnect pause
    std::condition_variable mReplied;   // callers waiting for their reply
    std::condition_variable mQueued;    // the dispatcher waiting for work
    std::condition_variable mLinked;    // callers waiting for the link to come back
    int mFd = -1;
    // Bumped on every new socket, so late writes and aborts never hit a successor socket.
    uint64_t mGeneration = 0;
    bool mStopping = false;
    int64_t mNextId = 0;
    std::map<int64_t, std::shared_ptr<Pending>> mPending;
    std::deque<std::function<void()>> mQueue;

    std::thread mReader;
    std::thread mDispatcher;
};

// A JSON array of the given values: the "args" of a positional operation.
template <typename... T>
Json::Value ArgList(const T&... values) {
    Json::Value list(Json::arrayValue);
    (list.append(Json::Value(values)), ...);
    return list;
}

}  // namespace orvix::host
