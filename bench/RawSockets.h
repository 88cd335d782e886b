// Plain sockets for tests that talk to the simulator below its CLI: protocol frames and
// garbage on its Unix sockets, HTTP on the setup port, datagrams to /dev/log.
#pragma once

#include <json/json.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace orvix::e2e {

class RawSocket {
public:
    RawSocket() = default;
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool connectUnix(const std::string& path);
    // False when the connection is refused.
    bool connectLoopback(uint16_t port);
    bool sendAll(const std::string& bytes);
    bool sendFrame(const Json::Value& object);
    // The next frame's object; null on EOF, time-out or a bad frame.
    Json::Value readFrame(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything until the peer closes; what came before the time-out otherwise.
    std::string readToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True when the peer closes the connection within the time-out (data before it is
    // discarded).
    bool closedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    int fd() const { return mFd; }

private:
    bool readSome(std::string* into, std::chrono::steady_clock::time_point deadline, bool* eof);

    int mFd = -1;
    std::string mBuffer;
};

// A frame's bytes: 4-byte big-endian length, then the text.
std::string Frame(const std::string& body);
// One datagram to the Unix datagram socket at path.
bool SendDatagram(const std::string& path, const std::string& datagram);

}  // namespace orvix::e2e
