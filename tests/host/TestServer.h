// A small server speaking the simulator's framed protocol, for the host platform's tests.
// Its framing is written apart from the client's, so a mistake they share cannot hide.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/Wait.h"

namespace orvix::hosttest {

using fakes::WaitFor;

// The folder ORVIXSIM_DIR points at: made before any test runs, so that every client sees
// it, and removed at exit.
inline const std::string& TestDir() {
    static const struct ScratchDir {
        ScratchDir() {
            char name[] = "/tmp/orvix-host-test-XXXXXX";
            path = ::mkdtemp(name) ? name : "/tmp/orvix-host-test";
            ::setenv("ORVIXSIM_DIR", path.c_str(), 1);
        }
        ~ScratchDir() { std::filesystem::remove_all(path); }
        std::string path;
    } dir;
    return dir.path;
}
[[maybe_unused]] inline const std::string& gTestDir = TestDir();

// Null for text that is not JSON.
inline Json::Value ParseJson(const std::string& text) {
    Json::Value value;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    reader->parse(text.data(), text.data() + text.size(), &value, nullptr);
    return value;
}

// A 4-byte big-endian length, then body.
inline std::string Frame(const std::string& body) {
    const uint32_t n = static_cast<uint32_t>(body.size());
    const char header[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 8), static_cast<char>(n)};
    return std::string(header, 4) + body;
}

inline std::string Frame(const Json::Value& object) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Frame(Json::writeString(builder, object));
}

// Lines recorded from any thread.
class Lines {
public:
    void add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mLock);
        mLines.push_back(line);
    }
    std::vector<std::string> get() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mLines;
    }

private:
    mutable std::mutex mLock;
    std::vector<std::string> mLines;
};

struct Request {
    int64_t id = 0;
    std::string op;
    Json::Value args;
};

struct Answer {
    Json::Value result = 0;
    bool ok = true;
    bool close = false;  // the connection is closed instead
};

// Serves every connection from one thread: reads a frame, records it, answers it. Blocking
// Unix stream sockets move whole buffers unless the peer goes away.
class TestServer {
public:
    using Handler = std::function<Answer(const Request&)>;

    // cutFrames: every connection is closed as soon as a frame's length has been read.
    TestServer(std::string path, Handler handler, bool cutFrames = false)
        : mPath(std::move(path)), mHandler(std::move(handler)), mCutFrames(cutFrames) {
        ::unlink(mPath.c_str());
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, mPath.c_str(), sizeof(addr.sun_path) - 1);
        mListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(mListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(mListenFd, 16) != 0) {
            ADD_FAILURE() << "cannot listen on " << mPath << ": " << std::strerror(errno);
        }
        mThread = std::thread(&TestServer::run, this);
    }

    // Closes every connection and removes the socket.
    ~TestServer() {
        // Wakes the serving thread, whose next accept then fails.
        ::shutdown(mListenFd, SHUT_RDWR);
        mThread.join();
        ::close(mListenFd);
        ::unlink(mPath.c_str());
        for (int fd : mOpen) ::close(fd);
    }

    // To every connection still open.
    void send(const std::string& bytes) {
        std::lock_guard<std::mutex> lock(mLock);
        for (int fd : mOpen) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void send(const Json::Value& frame) { send(Frame(frame)); }

    std::vector<Request> requests(const std::string& op) const {
        std::lock_guard<std::mutex> lock(mLock);
        std::vector<Request> out;
        std::copy_if(mRequests.begin(), mRequests.end(), std::back_inserter(out),
                     [&](const Request& r) { return r.op == op; });
        return out;
    }

    std::atomic<size_t> accepted{0};
    std::atomic<size_t> closed{0};

private:
    void run() {
        for (;;) {
            std::vector<pollfd> fds{{mListenFd, POLLIN, 0}};
            {
                std::lock_guard<std::mutex> lock(mLock);
                for (int fd : mOpen) fds.push_back({fd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), -1) <= 0) continue;
            if (fds[0].revents != 0) {
                const int fd = ::accept4(mListenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) return;
                std::lock_guard<std::mutex> lock(mLock);
                mOpen.push_back(fd);
                ++accepted;
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0 || serveFrame(fds[i].fd)) continue;
                std::lock_guard<std::mutex> lock(mLock);
                mOpen.erase(std::find(mOpen.begin(), mOpen.end(), fds[i].fd));
                ::close(fds[i].fd);
                ++closed;
            }
        }
    }

    // False when the connection is to be closed.
    bool serveFrame(int fd) {
        unsigned char h[4];
        if (::recv(fd, h, 4, MSG_WAITALL) != 4 || mCutFrames) return false;
        std::string body((size_t{h[0]} << 24) | (size_t{h[1]} << 16) | (size_t{h[2]} << 8) | h[3],
                         '\0');
        if (::recv(fd, &body[0], body.size(), MSG_WAITALL) != ssize_t(body.size())) return false;
        const Json::Value frame = ParseJson(body);
        if (!frame.isObject()) return false;
        const Request request{frame["id"].asInt64(), frame["op"].asString(), frame["args"]};
        {
            std::lock_guard<std::mutex> lock(mLock);
            mRequests.push_back(request);
        }
        const Answer answer = mHandler(request);
        if (answer.close) return false;
        Json::Value reply;
        reply["id"] = Json::Int64(request.id);
        reply["ok"] = answer.ok;
        reply[answer.ok ? "result" : "error"] = answer.ok ? answer.result : "refused";
        write(fd, Frame(reply));
        return true;
    }

    void write(int fd, const std::string& bytes) {
        std::lock_guard<std::mutex> lock(mLock);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    const std::string mPath;
    const Handler mHandler;
    const bool mCutFrames;
    int mListenFd = -1;
    // Guards the members below; held over each write, so frames go out whole.
    mutable std::mutex mLock;
    std::vector<int> mOpen;
    std::vector<Request> mRequests;
    std::thread mThread;
};

}  // namespace orvix::hosttest
