#include "sim/server/SetupHttp.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "sim/server/Sockets.h"

namespace orvix::sim {

namespace {

// A request head larger than this is no client of ours.
constexpr size_t kMaxRequest = 16 * 1024;
// A client that neither finishes its request nor reads its answer in time is dropped.
constexpr std::chrono::seconds kConnectionTime{5};

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string Response(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

SetupHttp::~SetupHttp() {
    close();
    for (auto& conn : mConns) ::close(conn->fd);
}

bool SetupHttp::open(std::string* error) {
    if (mListenFd >= 0) return true;
    mListenFd = ListenLoopback(mPort, error);
    return mListenFd >= 0;
}

void SetupHttp::close() {
    if (mListenFd >= 0) ::close(mListenFd);
    mListenFd = -1;
    // Their descriptors may still be in this poll round: cut them now, close them in reap().
    for (auto& conn : mConns) {
        ::shutdown(conn->fd, SHUT_RDWR);
        conn->dead = true;
    }
}

void SetupHttp::addTo(PollSet* set) {
    if (mListenFd >= 0) {
        const int fd = mListenFd;
        set->add(fd, POLLIN, [this, fd](short) {
            // The socket may have been closed earlier in this round.
            if (fd == mListenFd) accept();
        });
    }
    for (auto& conn : mConns) {
        if (conn->dead) continue;
        Conn* c = conn.get();
        const short events = c->answered ? POLLOUT : POLLIN;
        set->add(c->fd, events, [this, c](short revents) {
            if (c->dead) return;
            if (c->answered) {
                writeTo(c);
            } else if (c->held) {
                drain(c);
            } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
                readFrom(c);
            }
        });
    }
}

void SetupHttp::accept() {
    for (;;) {
        const int fd = ::accept4(mListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        auto conn = std::make_unique<Conn>();
        conn->fd = fd;
        conn->deadline = std::chrono::steady_clock::now() + kConnectionTime;
        mConns.push_back(std::move(conn));
    }
}

void SetupHttp::readFrom(Conn* conn) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(conn->fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            conn->in.append(chunk, static_cast<size_t>(n));
            if (conn->in.size() > kMaxRequest) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return answer(conn);
        // Closed or failed before the request was complete.
        if (conn->in.find("\r\n\r\n") == std::string::npos) {
            conn->dead = true;
            return;
        }
        break;
    }
    answer(conn);
}

void SetupHttp::answer(Conn* conn) {
    const size_t end = conn->in.find("\r\n\r\n");
    if (end == std::string::npos) {
        if (conn->in.size() <= kMaxRequest) return;  // not all there yet
        return respond(conn, Response(400, "{\"error\":\"request too large\"}"));
    }
    const std::string line = conn->in.substr(0, conn->in.find("\r\n"));
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) {
        return respond(conn, Response(400, "{\"error\":\"bad request line\"}"));
    }
    const std::string method = line.substr(0, sp1);
    std::string path = line.substr(sp1 + 1, sp2 - sp1 - 1);
    path = path.substr(0, path.find('?'));
    if (method != "GET") return respond(conn, Response(405, "{\"error\":\"only GET\"}"));
    if (path != kPath) return respond(conn, Response(404, "{\"error\":\"not found\"}"));
    const model::SetupAnswer answer = mSetup.answer(path);
    if (answer.hang) {
        conn->held = true;
        conn->deadline = std::chrono::steady_clock::time_point::max();
        return;
    }
    respond(conn, Response(answer.status, answer.body));
}

void SetupHttp::respond(Conn* conn, const std::string& response) {
    conn->out = response;
    conn->held = false;
    conn->answered = true;
    conn->deadline = std::chrono::steady_clock::now() + kConnectionTime;
    writeTo(conn);
}

void SetupHttp::drain(Conn* conn) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(conn->fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        conn->dead = true;
        return;
    }
}

void SetupHttp::writeTo(Conn* conn) {
    while (conn->sent < conn->out.size()) {
        const ssize_t n = ::send(conn->fd, conn->out.data() + conn->sent,
                                 conn->out.size() - conn->sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            conn->sent += static_cast<size_t>(n);
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        } else {
            conn->dead = true;
            return;
        }
    }
    ::shutdown(conn->fd, SHUT_WR);
    conn->dead = true;
}

void SetupHttp::reap(std::chrono::steady_clock::time_point now) {
    const bool anyHeld = std::any_of(mConns.begin(), mConns.end(),
                                     [](const auto& conn) { return conn->held && !conn->dead; });
    if (anyHeld) {
        const model::SetupAnswer answer = mSetup.current();
        if (!answer.hang) {
            const std::string response = Response(answer.status, answer.body);
            for (auto& conn : mConns) {
                if (conn->held && !conn->dead) respond(conn.get(), response);
            }
        }
    }
    auto gone = [now](const std::unique_ptr<Conn>& conn) {
        if (!conn->dead && now < conn->deadline) return false;
        ::close(conn->fd);
        return true;
    };
    mConns.erase(std::remove_if(mConns.begin(), mConns.end(), gone), mConns.end());
}

}  // namespace orvix::sim
