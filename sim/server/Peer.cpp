#include "sim/server/Peer.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvix::sim {

namespace {

// Bounds one receive() so a flooding client cannot keep the server from the others.
constexpr int kReadsPerRound = 16;

}  // namespace

const char* PeerKindName(Peer::Kind kind) {
    switch (kind) {
        case Peer::Kind::Device:
            return "device";
        case Peer::Kind::Receiver:
            return "receiver";
        case Peer::Kind::Control:
            return "control";
    }
    return "?";
}

Peer::Peer(int fd, Kind kind, uint64_t number)
    : mFd(fd),
      mKind(kind),
      mNumber(number),
      mDecoder(kind == Kind::Control ? kMaxControlFrame : kMaxFrame) {}

Peer::~Peer() {
    ::close(mFd);
}

Peer::ReadStatus Peer::receive(std::vector<Json::Value>* frames) {
    ReadStatus status = ReadStatus::Open;
    char chunk[64 * 1024];
    for (int i = 0; i < kReadsPerRound; ++i) {
        const ssize_t n = ::recv(mFd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            mDecoder.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            status = ReadStatus::Closed;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            status = ReadStatus::Broken;
        }
        break;
    }
    std::string body;
    for (;;) {
        const FrameDecoder::Status next = mDecoder.next(&body);
        if (next == FrameDecoder::Status::More) break;
        Json::Value frame;
        if (next == FrameDecoder::Status::Error || !ParseObject(body, &frame)) {
            return ReadStatus::Broken;
        }
        frames->push_back(std::move(frame));
    }
    return status;
}

void Peer::send(const Json::Value& frame) {
    sendBytes(FrameBytes(frame));
}

void Peer::sendBytes(const std::string& bytes) {
    if (dead) return;
    // A control connection carries one reply, which may be as large as a control frame.
    const size_t limit = mKind == Kind::Control ? size_t{4} + kMaxControlFrame : kMaxBacklog;
    if (mOut.size() - mOutOffset + bytes.size() > limit) {
        // It has stopped reading: holding more for it would only grow the server.
        dead = true;
        return;
    }
    if (mOutOffset > 0 && mOutOffset >= mOut.size() / 2) {
        mOut.erase(0, mOutOffset);
        mOutOffset = 0;
    }
    mOut.append(bytes);
    if (!flush()) dead = true;
}

bool Peer::flush() {
    while (mOutOffset < mOut.size()) {
        const ssize_t n = ::send(mFd, mOut.data() + mOutOffset, mOut.size() - mOutOffset,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            mOutOffset += static_cast<size_t>(n);
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return true;
        } else {
            return false;
        }
    }
    mOut.clear();
    mOutOffset = 0;
    return true;
}

}  // namespace orvix::sim
