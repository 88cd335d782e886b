#include "sim/server/SyslogSocket.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/server/Sockets.h"

namespace orvix::sim {

namespace {

// Bounds one round, so a process logging without pause cannot keep the server from the rest.
constexpr int kDatagramsPerRound = 256;

}  // namespace

SyslogSocket::~SyslogSocket() {
    if (mFd >= 0) ::close(mFd);
}

bool SyslogSocket::open(const std::string& path, std::string* error) {
    mFd = BindDatagram(path, error);
    if (mFd < 0) return false;
    // Bursts of log lines at start-up must not be dropped while the server is busy.
    const int size = 1 << 20;
    ::setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return true;
}

void SyslogSocket::addTo(PollSet* set) {
    if (mFd >= 0) set->add(mFd, POLLIN, [this](short) { drain(); });
}

void SyslogSocket::drain() {
    // glibc sends at most a few KiB; a longer datagram is cut, which the parser takes as is.
    char buffer[16 * 1024];
    for (int i = 0; i < kDatagramsPerRound; ++i) {
        const ssize_t n = ::recv(mFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;
        mCollector.recordDatagram(std::string(buffer, static_cast<size_t>(n)));
    }
}

}  // namespace orvix::sim
