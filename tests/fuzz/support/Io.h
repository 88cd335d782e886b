// Blocking socket helpers for the fuzz targets that talk over real sockets. libFuzzer's
// timeout alarm interrupts system calls now and then; an interrupted call is made again.
#pragma once

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace orvix::fuzz {

// Waits until fd is readable (or closed) or deadline passes; false on the deadline.
inline bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

// recv(): the byte count, 0 at the end of the stream, -1 on an error.
inline ssize_t Receive(int fd, void* data, size_t size) {
    for (;;) {
        const ssize_t n = recv(fd, data, size, 0);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Sends as much of bytes as the peer takes; stops at the first error (the peer may close at
// any point: that is a failed send, never a signal).
inline size_t SendAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(fd, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    return sent;
}

inline std::chrono::steady_clock::time_point SecondsFromNow(int seconds) {
    return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

}  // namespace orvix::fuzz
