// One client connection of the simulator's framed protocol, non-blocking on both sides:
// received bytes are cut into frames, and what is sent waits in a buffer until the socket
// takes it, so a slow or stuck client never blocks the server. A client that lets more than
// kMaxBacklog bytes pile up is dropped (a control connection: more than its one reply).
#pragma once

#include <json/json.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/server/Framing.h"

namespace orvix::sim {

class Peer {
public:
    enum class Kind { Device, Receiver, Control };
    enum class ReadStatus { Open, Closed, Broken };

    static constexpr size_t kMaxBacklog = 16u * 1024u * 1024u;

    Peer(int fd, Kind kind, uint64_t number);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int fd() const { return mFd; }
    Kind kind() const { return mKind; }
    // Counts up over the server's life; the log and the routing use it.
    uint64_t number() const { return mNumber; }

    // Reads what the socket holds now and appends each complete frame's object. Closed: the
    // client closed its side (the frames before that still count). Broken: the client sent
    // something that is not a frame of a JSON object, or the socket failed.
    ReadStatus receive(std::vector<Json::Value>* frames);

    void send(const Json::Value& frame);
    void sendBytes(const std::string& bytes);
    // Writes as much of the backlog as the socket takes; false when the socket failed.
    bool flush();
    bool hasBacklog() const { return mOut.size() > mOutOffset; }

    // Marked instead of closed, so the descriptor stays valid until the round ends.
    bool dead = false;
    // The reply is the last thing this connection carries (control connections, or a client
    // that closed its sending side while answers were still on their way).
    bool closeWhenFlushed = false;
    // The client sent EOF: nothing more to read, so the server stops polling for it.
    bool readClosed = false;
    // Control connections that never send their request do not stay for ever.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();

    // Routing state, set by the operations the client sent.
    std::string busClient;     // the bus model's id of this connection, once it used the bus
    uint64_t listenOrder = 0;  // source.listen: the latest one gets the source events
    uint64_t createOrder = 0;  // cast.create: the latest one gets the cast events

private:
    const int mFd;
    const Kind mKind;
    const uint64_t mNumber;
    FrameDecoder mDecoder;
    std::string mOut;
    size_t mOutOffset = 0;
};

const char* PeerKindName(Peer::Kind kind);

}  // namespace orvix::sim
