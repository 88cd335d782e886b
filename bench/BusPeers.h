// The simulator's sockets as the bench drives them: its control socket (the CLI's commands
// without a process each), an app on the message bus, and the trivial echo client that stands
// in for the daemon to give the end-to-end floor.
#pragma once

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/RawSockets.h"

namespace orvix::bench {

// One CLI command on the control socket; false (and *error) when it failed.
bool Control(const std::string& runDir, const std::vector<std::string>& argv, Json::Value* result,
             std::string* error = nullptr);

// A client of the device socket, as the daemon's bus clients and the device's apps are.
class BusPeer {
public:
    bool connect(const std::string& runDir);
    // Sends a request without waiting for its reply (replies are skipped by waitAlert); its
    // id, 0 when the connection is lost.
    int64_t send(const std::string& op, const Json::Value& args);
    // The reply to request id (events before it are dropped); null on time-out.
    Json::Value waitReply(int64_t id, std::chrono::milliseconds timeout);
    bool registerMids(const std::vector<int32_t>& mids);
    bool write(int32_t mid, const std::string& payload);
    // The next bus.alert for mid; null on time-out or a lost connection.
    Json::Value waitAlert(int32_t mid, std::chrono::milliseconds timeout);
    e2e::RawSocket& socket() { return mSocket; }

private:
    // The next frame that pred accepts (the others are dropped); null on time-out.
    Json::Value waitFrame(const std::function<bool(const Json::Value&)>& pred,
                          std::chrono::milliseconds timeout);

    e2e::RawSocket mSocket;
    int64_t mNextId = 1;
};

// Writes every payload it is alerted with on inMid to outMid, on a thread of its own.
class EchoClient {
public:
    EchoClient(int32_t inMid, int32_t outMid) : mIn(inMid), mOut(outMid) {}
    ~EchoClient() { stop(); }
    bool start(const std::string& runDir);
    void stop();

private:
    void run();

    const int32_t mIn;
    const int32_t mOut;
    BusPeer mPeer;
    std::atomic<bool> mStopping{false};
    std::thread mThread;
};

// A GET request as apps write it on MID 571.
std::string GetPayload(const std::string& uuid);

}  // namespace orvix::bench
