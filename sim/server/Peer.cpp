#include "sim/server/Peer.h"

#include <event2/buffer.h>
#include <event2/event.h>

#include "sim/model/JsonText.h"
#include "sim/server/Framing.h"

namespace orvix::sim {

namespace {

// A CLI that connects but never sends its request is dropped after this.
constexpr timeval kControlTime{10, 0};

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

Peer::Peer(event_base* base, int fd, Kind kind, uint64_t number,
           std::function<void(Peer*)> onActivity)
    : mKind(kind),
      mNumber(number),
      mBev(bufferevent_socket_new(base, fd, BEV_OPT_CLOSE_ON_FREE)),
      mOnActivity(std::move(onActivity)) {
    bufferevent_setcb(mBev, OnRead, OnWritten, OnEvent, this);
    if (kind == Kind::Control) bufferevent_set_timeouts(mBev, &kControlTime, nullptr);
    bufferevent_enable(mBev, EV_READ | EV_WRITE);
}

Peer::~Peer() {
    bufferevent_free(mBev);
}

bool Peer::takeFrame(Json::Value* frame) {
    evbuffer* in = bufferevent_get_input(mBev);
    unsigned char head[4];
    if (broken || evbuffer_copyout(in, head, 4) != 4) return false;
    const uint32_t size = FrameLength(head);
    const uint32_t limit = mKind == Kind::Control ? kMaxControlFrame : kMaxFrame;
    if (size <= limit && evbuffer_get_length(in) - 4 < size) return false;
    std::string body(size <= limit ? size : 0, '\0');
    broken = size > limit || evbuffer_drain(in, 4) != 0 ||
             evbuffer_remove(in, &body[0], size) != static_cast<int>(size) ||
             !model::parseJson(body, frame) || !frame->isObject();
    return !broken;
}

void Peer::send(const Json::Value& frame) {
    if (dead) return;
    const std::string bytes = FrameBytes(frame);
    // A control connection carries one reply, which may be as large as a control frame.
    const size_t limit = mKind == Kind::Control ? size_t{4} + kMaxControlFrame : kMaxBacklog;
    if (evbuffer_get_length(bufferevent_get_output(mBev)) + bytes.size() > limit ||
        bufferevent_write(mBev, bytes.data(), bytes.size()) != 0) {
        // It has stopped reading: holding more for it would only grow the server.
        dead = true;
    }
}

bool Peer::hasBacklog() const {
    return evbuffer_get_length(bufferevent_get_output(mBev)) > 0;
}

void Peer::OnRead(bufferevent*, void* self) {
    auto* peer = static_cast<Peer*>(self);
    peer->mOnActivity(peer);
}

void Peer::OnWritten(bufferevent*, void* self) {
    auto* peer = static_cast<Peer*>(self);
    if (!peer->closeWhenFlushed) return;
    peer->dead = true;
    peer->mOnActivity(peer);
}

void Peer::OnEvent(bufferevent*, short what, void* self) {
    auto* peer = static_cast<Peer*>(self);
    if (what & BEV_EVENT_EOF) {
        peer->readClosed = true;
    } else {
        // A failed socket, or a control client past its time.
        peer->dead = true;
    }
    peer->mOnActivity(peer);
}

}  // namespace orvix::sim
