#include "bench/RawSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace orvix::e2e {

namespace {

bool UnixAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr->sun_path)) return false;
    std::memcpy(addr->sun_path, path.data(), path.size());
    return true;
}

}  // namespace

std::string Frame(const std::string& body) {
    std::string bytes;
    const uint32_t size = static_cast<uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(size >> shift));
    return bytes + body;
}

bool SendDatagram(const std::string& path, const std::string& datagram) {
    sockaddr_un addr;
    if (!UnixAddress(path, &addr)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const ssize_t n = ::sendto(fd, datagram.data(), datagram.size(), 0,
                               reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    ::close(fd);
    return n == static_cast<ssize_t>(datagram.size());
}

RawSocket::~RawSocket() {
    if (mFd >= 0) ::close(mFd);
}

bool RawSocket::connectUnix(const std::string& path) {
    sockaddr_un addr;
    if (!UnixAddress(path, &addr)) return false;
    mFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return mFd >= 0 && ::connect(mFd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool RawSocket::connectLoopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return mFd >= 0 && ::connect(mFd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool RawSocket::sendAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(mFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool RawSocket::sendFrame(const Json::Value& object) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return sendAll(Frame(Json::writeString(builder, object)));
}

bool RawSocket::readSome(std::string* into, std::chrono::steady_clock::time_point deadline,
                         bool* eof) {
    *eof = false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{mFd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[64 * 1024];
    const ssize_t n = ::recv(mFd, chunk, sizeof chunk, 0);
    if (n <= 0) {
        *eof = true;
        return false;
    }
    into->append(chunk, static_cast<size_t>(n));
    return true;
}

Json::Value RawSocket::readFrame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (mBuffer.size() >= 4) {
            const auto* p = reinterpret_cast<const unsigned char*>(mBuffer.data());
            const uint32_t size = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                  (uint32_t{p[2]} << 8) | uint32_t{p[3]};
            if (mBuffer.size() - 4 >= size) {
                const std::string body = mBuffer.substr(4, size);
                mBuffer.erase(0, 4 + size);
                Json::Value value;
                Json::CharReaderBuilder builder;
                std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
                std::string errors;
                if (!reader->parse(body.data(), body.data() + body.size(), &value, &errors)) {
                    return Json::Value();
                }
                return value;
            }
        }
        bool eof = false;
        if (!readSome(&mBuffer, deadline, &eof)) return Json::Value();
    }
}

std::string RawSocket::readToEnd(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string out;
    bool eof = false;
    while (readSome(&out, deadline, &eof)) {
    }
    return out;
}

bool RawSocket::closedByPeer(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string ignored;
    bool eof = false;
    while (readSome(&ignored, deadline, &eof)) ignored.clear();
    return eof;
}

}  // namespace orvix::e2e
