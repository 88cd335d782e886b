// One client connection of the simulator's framed protocol, on a libevent bufferevent: what
// arrives is cut into frames, and what is sent waits in the bufferevent until the socket takes
// it, so a slow or stuck client never blocks the server. A client that lets more than
// kMaxBacklog bytes pile up is dropped (a control connection: more than its one reply).
#pragma once

#include <event2/bufferevent.h>
#include <json/json.h>

#include <cstdint>
#include <functional>
#include <string>

namespace orvix::sim {

class Peer {
public:
    enum class Kind { Device, Receiver, Control };

    static constexpr size_t kMaxBacklog = 16u * 1024u * 1024u;

    // onActivity runs whenever there may be frames to take or the peer changed state.
    Peer(event_base* base, int fd, Kind kind, uint64_t number,
         std::function<void(Peer*)> onActivity);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    Kind kind() const { return mKind; }
    // Counts up over the server's life; the log and the routing use it.
    uint64_t number() const { return mNumber; }

    // The next complete frame's object; false when there is none yet, or when the client
    // sent something that is not a frame of a JSON object (then broken is set).
    bool takeFrame(Json::Value* frame);

    void send(const Json::Value& frame);
    bool hasBacklog() const;

    // Marked instead of freed, so that a peer stays valid until the server reaps it.
    bool dead = false;
    bool broken = false;
    // The reply is the last thing this connection carries (control connections, or a client
    // that closed its sending side while answers were still on their way).
    bool closeWhenFlushed = false;
    // The client sent EOF: nothing more will arrive.
    bool readClosed = false;

    // Routing state, set by the operations the client sent.
    std::string busClient;     // the bus model's id of this connection, once it used the bus
    uint64_t listenOrder = 0;  // source.listen: the latest one gets the source events
    uint64_t createOrder = 0;  // cast.create: the latest one gets the cast events

private:
    static void OnRead(bufferevent* bev, void* self);
    static void OnWritten(bufferevent* bev, void* self);
    static void OnEvent(bufferevent* bev, short what, void* self);

    const Kind mKind;
    const uint64_t mNumber;
    bufferevent* mBev;
    std::function<void(Peer*)> mOnActivity;
};

const char* PeerKindName(Peer::Kind kind);

}  // namespace orvix::sim
