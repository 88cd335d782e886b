#include "tests/host/TestServer.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace orvix::hosttest {

namespace {

class SimDirEnvironment : public ::testing::Environment {
public:
    void SetUp() override { TestDir(); }
    void TearDown() override { std::filesystem::remove_all(TestDir()); }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new SimDirEnvironment());

bool ReadFull(int fd, char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

const std::string& TestDir() {
    static const std::string dir = [] {
        char name[] = "/tmp/orvix-host-test-XXXXXX";
        const char* made = ::mkdtemp(name);
        std::string path = made ? made : "/tmp";
        ::setenv("ORVIXSIM_DIR", path.c_str(), 1);
        return path;
    }();
    return dir;
}

Json::Value ParseJson(const std::string& text) {
    Json::Value value;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    reader->parse(text.data(), text.data() + text.size(), &value, nullptr);
    return value;
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string TestServer::Frame(const Json::Value& object) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    const std::string body = Json::writeString(builder, object);
    const uint32_t n = static_cast<uint32_t>(body.size());
    const char header[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 8), static_cast<char>(n)};
    return std::string(header, 4) + body;
}

TestServer::TestServer(std::string path, Handler handler)
    : mPath(std::move(path)), mHandler(std::move(handler)) {
    ::unlink(mPath.c_str());
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, mPath.c_str(), sizeof(addr.sun_path) - 1);
    mListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(mListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(mListenFd, 16) != 0) {
        ADD_FAILURE() << "cannot listen on " << mPath << ": " << std::strerror(errno);
    }
    mAcceptThread = std::thread(&TestServer::acceptLoop, this);
}

TestServer::~TestServer() {
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
    }
    ::shutdown(mListenFd, SHUT_RDWR);
    mAcceptThread.join();
    ::close(mListenFd);
    ::unlink(mPath.c_str());
    std::map<int, std::shared_ptr<Conn>> conns;
    {
        std::lock_guard<std::mutex> lock(mLock);
        conns.swap(mConns);
    }
    for (auto& entry : conns) {
        ::shutdown(entry.second->fd, SHUT_RDWR);
        entry.second->thread.join();
        ::close(entry.second->fd);
    }
}

void TestServer::acceptLoop() {
    for (int next = 1;; ++next) {
        const int fd = ::accept4(mListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard<std::mutex> lock(mLock);
        if (fd < 0 || mStopping) {
            if (fd >= 0) ::close(fd);
            if (mStopping || errno != EINTR) return;
            continue;
        }
        auto conn = std::make_shared<Conn>();
        conn->fd = fd;
        conn->thread = std::thread(&TestServer::serve, this, next, conn);
        mConns[next] = conn;
    }
}

void TestServer::serve(int id, std::shared_ptr<Conn> conn) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    for (;;) {
        unsigned char header[4];
        if (!ReadFull(conn->fd, reinterpret_cast<char*>(header), 4) || mCutFrames) break;
        const size_t size = (size_t{header[0]} << 24) | (size_t{header[1]} << 16) |
                            (size_t{header[2]} << 8) | size_t{header[3]};
        std::string body(size, '\0');
        Json::Value frame;
        if (!ReadFull(conn->fd, &body[0], size) ||
            !reader->parse(body.data(), body.data() + size, &frame, nullptr)) {
            break;
        }
        Request request{id, frame["id"].asInt64(), frame["op"].asString(), frame["args"]};
        {
            std::lock_guard<std::mutex> lock(mLock);
            mRequests.push_back(request);
        }
        const Answer answer = mHandler ? mHandler(request) : Answer();
        if (answer.close) break;
        if (!answer.reply) continue;
        Json::Value reply;
        reply["id"] = Json::Int64(request.id);
        reply["ok"] = answer.ok;
        if (answer.ok) {
            reply["result"] = answer.result;
        } else {
            reply["error"] = "refused";
        }
        sendRaw(id, Frame(reply));
    }
    ::shutdown(conn->fd, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mLock);
    ++mClosed;
}

void TestServer::sendRaw(int conn, const std::string& bytes) {
    std::vector<std::shared_ptr<Conn>> targets;
    {
        std::lock_guard<std::mutex> lock(mLock);
        for (auto& entry : mConns) {
            if (conn == -1 || entry.first == conn) targets.push_back(entry.second);
        }
    }
    for (auto& target : targets) {
        std::lock_guard<std::mutex> lock(target->writeLock);
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(target->fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
}

std::vector<Request> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mRequests;
}

std::vector<Request> TestServer::requests(const std::string& op) const {
    std::vector<Request> out;
    for (const Request& r : requests()) {
        if (r.op == op) out.push_back(r);
    }
    return out;
}

int TestServer::connectionOf(const std::string& op) const {
    const std::vector<Request> matching = requests(op);
    return matching.empty() ? -1 : matching.back().conn;
}

size_t TestServer::accepted() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mConns.size();
}

size_t TestServer::closed() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mClosed;
}

}  // namespace orvix::hosttest
