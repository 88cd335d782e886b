#include "platform/host/Connection.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <exception>

namespace orvix::host {

namespace {

// A peer that takes longer than this to accept our bytes is treated as gone; without it a
// stalled simulator would hold the write lock, and every caller, forever.
constexpr int kSendTimeoutSeconds = 5;

int ConnectTo(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) return -1;
    std::memcpy(addr.sun_path, path.data(), path.size());

    // Non-blocking for the connect only: a full backlog must not stall us.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    timeval tv{};
    tv.tv_sec = kSendTimeoutSeconds;
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// False on EOF or error.
bool ReadFull(int fd, char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, data + done, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool Encode(const Json::Value& frame, std::string* bytes) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // Texts go as the bytes they are: the daemon hands the library C strings, not checked
    // UTF-8, and an escaping writer would turn bytes it cannot decode into U+FFFD.
    builder["emitUTF8"] = true;
    const std::string body = Json::writeString(builder, frame);
    if (body.size() > Connection::kMaxFrame) return false;
    const uint32_t size = static_cast<uint32_t>(body.size());
    bytes->clear();
    bytes->reserve(4 + body.size());
    for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<char>(size >> shift));
    bytes->append(body);
    return true;
}

}  // namespace

Connection::Connection(std::string path, EventHandler onEvent, LinkHandler onLink)
    : mPath(std::move(path)), mOnEvent(std::move(onEvent)), mOnLink(std::move(onLink)) {}

Connection::~Connection() {
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
        // Wakes the reader out of recv() and any writer out of send().
        if (mFd >= 0) ::shutdown(mFd, SHUT_RDWR);
    }
    mStopWake.notify_all();
    mQueued.notify_all();
    mReplied.notify_all();
    mLinked.notify_all();
    if (mReader.joinable()) mReader.join();
    if (mDispatcher.joinable()) mDispatcher.join();
    if (mFd >= 0) ::close(mFd);
}

bool Connection::start() {
    const int fd = ConnectTo(mPath);
    {
        std::lock_guard<std::mutex> lock(mLock);
        mFd = fd;
        if (fd >= 0) ++mGeneration;
    }
    try {
        mDispatcher = std::thread(&Connection::dispatcherLoop, this);
        mReader = std::thread(&Connection::readerLoop, this);
    } catch (const std::exception&) {
        // Without a reader nothing would ever answer; behave as if unreachable.
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
        if (mFd >= 0) ::shutdown(mFd, SHUT_RDWR);
        mQueued.notify_all();
        return false;
    }
    return fd >= 0;
}

bool Connection::connected() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mFd >= 0 && !mStopping;
}

bool Connection::call(const std::string& op, const Json::Value& args, Json::Value* result,
                      std::chrono::milliseconds timeout) {
    auto pending = std::make_shared<Pending>();
    int64_t id = 0;
    uint64_t generation = 0;
    {
        // On the device these services never go away; here the simulator may be restarting,
        // and a call that failed at once would be lost (a settings write made just before the
        // link is back). So a call made while the link is down waits for the reader's next
        // successful reconnect, for a bounded time.
        std::unique_lock<std::mutex> lock(mLock);
        mLinked.wait_for(lock, kLinkWait, [this] { return mFd >= 0 || mStopping; });
        if (mFd < 0 || mStopping) return false;
        id = ++mNextId;
        generation = mGeneration;
        mPending[id] = pending;
    }
    Json::Value frame(Json::objectValue);
    frame["id"] = Json::Int64(id);
    frame["op"] = op;
    frame["args"] = args.isNull() ? Json::Value(Json::objectValue) : args;
    std::string bytes;
    const bool sent = Encode(frame, &bytes) && writeFrame(bytes, generation);

    std::unique_lock<std::mutex> lock(mLock);
    const bool answered =
        sent && mReplied.wait_for(lock, timeout, [&pending] { return pending->done; });
    mPending.erase(id);
    if (!answered || !pending->ok) return false;
    if (result) *result = std::move(pending->result);
    return true;
}

bool Connection::writeFrame(const std::string& bytes, uint64_t generation) {
    std::lock_guard<std::mutex> writeLock(mWriteLock);
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mFd < 0 || mGeneration != generation || mStopping) return false;
        fd = mFd;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<size_t>(n);
        } else if (errno != EINTR) {
            // Half a frame would desynchronise the stream: give the socket up.
            ::shutdown(fd, SHUT_RDWR);
            return false;
        }
    }
    return true;
}

void Connection::readerLoop() {
    pthread_setname_np(pthread_self(), "orvix-link-io");
    for (;;) {
        int fd = -1;
        uint64_t generation = 0;
        {
            std::unique_lock<std::mutex> lock(mLock);
            if (mStopping) return;
            if (mFd < 0) {
                mStopWake.wait_for(lock, kReconnectInterval, [this] { return mStopping; });
                if (mStopping) return;
                lock.unlock();
                const int fresh = ConnectTo(mPath);
                if (fresh < 0) continue;
                lock.lock();
                if (mStopping) {
                    ::close(fresh);
                    return;
                }
                mFd = fresh;
                ++mGeneration;
                mLinked.notify_all();
                if (mOnLink) enqueueLocked([this] { mOnLink(true); });
            }
            fd = mFd;
            generation = mGeneration;
        }
        try {
            readFrames(fd, generation);
        } catch (const std::exception&) {
            // A frame the parser chokes on (nesting too deep, out of memory) ends the link.
        }
        drop();
    }
}

void Connection::readFrames(int fd, uint64_t generation) {
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    std::string body;
    for (;;) {
        unsigned char header[4];
        if (!ReadFull(fd, reinterpret_cast<char*>(header), sizeof(header))) return;
        const uint32_t size = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) |
                              (uint32_t{header[2]} << 8) | uint32_t{header[3]};
        if (size > kMaxFrame) return;
        body.resize(size);
        if (size > 0 && !ReadFull(fd, &body[0], size)) return;
        Json::Value frame;
        std::string error;
        if (!reader->parse(body.data(), body.data() + body.size(), &frame, &error)) return;
        if (!frame.isObject() || !handleFrame(frame, generation)) return;
    }
}

bool Connection::handleFrame(const Json::Value& frame, uint64_t generation) {
    if (frame.isMember("event")) {
        const Json::Value& name = frame["event"];
        if (!name.isString()) return false;
        std::lock_guard<std::mutex> lock(mLock);
        if (mOnEvent) {
            enqueueLocked([this, name = name.asString(), frame, generation] {
                if (!mOnEvent(name, frame)) abort(generation);
            });
        }
        return true;
    }
    const Json::Value& id = frame["id"];
    const Json::Value& ok = frame["ok"];
    if (!id.isInt64() || !ok.isBool()) return false;
    std::lock_guard<std::mutex> lock(mLock);
    // A reply nobody waits for any more (its caller timed out) is simply dropped.
    auto it = mPending.find(id.asInt64());
    if (it != mPending.end() && !it->second->done) {
        it->second->done = true;
        it->second->ok = ok.asBool();
        it->second->result = frame["result"];
        mReplied.notify_all();
    }
    return true;
}

void Connection::drop() {
    std::lock_guard<std::mutex> writeLock(mWriteLock);
    std::lock_guard<std::mutex> lock(mLock);
    if (mFd < 0) return;
    ::close(mFd);
    mFd = -1;
    for (auto& entry : mPending) entry.second->done = true;
    mReplied.notify_all();
    if (mOnLink && !mStopping) enqueueLocked([this] { mOnLink(false); });
}

void Connection::abort(uint64_t generation) {
    std::lock_guard<std::mutex> lock(mLock);
    if (mFd >= 0 && mGeneration == generation) ::shutdown(mFd, SHUT_RDWR);
}

void Connection::enqueueLocked(std::function<void()> work) {
    mQueue.push_back(std::move(work));
    mQueued.notify_one();
}

void Connection::dispatcherLoop() {
    pthread_setname_np(pthread_self(), "orvix-link-cb");
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(mLock);
            mQueued.wait(lock, [this] { return mStopping || !mQueue.empty(); });
            if (mStopping) return;
            work = std::move(mQueue.front());
            mQueue.pop_front();
        }
        try {
            work();
        } catch (...) {
            // The owner's handler failed; the link and the next events are unaffected.
        }
    }
}

}  // namespace orvix::host
