// A small server speaking the simulator's framed protocol, for the host platform's tests.
// Its framing is written independently of the client's, so a shared mistake cannot hide.
#pragma once

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvix::hosttest {

// The folder ORVIXSIM_DIR points at for the whole test run.
const std::string& TestDir();

// Checks pred every few milliseconds until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

// {} for text that is not JSON.
Json::Value ParseJson(const std::string& text);

// Lines recorded from any thread, read back by the test.
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
    size_t size() const { return get().size(); }

private:
    mutable std::mutex mLock;
    std::vector<std::string> mLines;
};

struct Request {
    int conn = -1;
    int64_t id = 0;
    std::string op;
    Json::Value args;
};

struct Answer {
    Json::Value result = 0;
    bool ok = true;
    bool reply = true;   // false: never answered
    bool close = false;  // the connection is closed instead
};

class TestServer {
public:
    using Handler = std::function<Answer(const Request&)>;

    TestServer(std::string path, Handler handler);
    // Closes every connection and removes the socket.
    ~TestServer();

    // The frame bytes of object: 4-byte big-endian length, then the JSON text.
    static std::string Frame(const Json::Value& object);

    // To connection conn, or to every open one when conn is -1.
    void sendRaw(int conn, const std::string& bytes);
    void send(int conn, const Json::Value& frame) { sendRaw(conn, Frame(frame)); }
    // From now on every connection is closed as soon as a frame's length has been read.
    void cutFrames() { mCutFrames = true; }

    std::vector<Request> requests() const;
    std::vector<Request> requests(const std::string& op) const;
    // The connection that most recently sent op; -1 when none did.
    int connectionOf(const std::string& op) const;
    size_t accepted() const;
    size_t closed() const;

private:
    struct Conn {
        int fd = -1;
        std::mutex writeLock;
        std::thread thread;
    };

    void acceptLoop();
    void serve(int id, std::shared_ptr<Conn> conn);

    const std::string mPath;
    const Handler mHandler;
    std::atomic<bool> mCutFrames{false};
    int mListenFd = -1;
    std::thread mAcceptThread;
    // Guards everything below.
    mutable std::mutex mLock;
    bool mStopping = false;
    std::map<int, std::shared_ptr<Conn>> mConns;
    std::vector<Request> mRequests;
    size_t mClosed = 0;
};

}  // namespace orvix::hosttest
