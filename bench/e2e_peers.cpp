#include <sys/socket.h>

#include "bench/BusPeers.h"

namespace orvix::bench {

using namespace std::chrono_literals;

bool Control(const std::string& runDir, const std::vector<std::string>& argv, Json::Value* result,
             std::string* error) {
    e2e::RawSocket control;
    Json::Value request(Json::objectValue);
    request["id"] = 1;
    request["op"] = "cli";
    request["args"]["argv"] = Json::Value(Json::arrayValue);
    for (const std::string& arg : argv) request["args"]["argv"].append(arg);
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    if (!control.connectUnix(runDir + "/control.sock") || !control.sendFrame(request)) {
        why = "the simulator does not answer";
        return false;
    }
    const Json::Value reply = control.readFrame(15s);
    if (!reply["ok"].isBool()) {
        why = "no reply";
        return false;
    }
    if (!reply["ok"].asBool()) {
        why = reply["error"].asString();
        return false;
    }
    if (result != nullptr) *result = reply["result"];
    return true;
}

bool BusPeer::connect(const std::string& runDir) {
    return mSocket.connectUnix(runDir + "/device.sock");
}

int64_t BusPeer::send(const std::string& op, const Json::Value& args) {
    const int64_t id = mNextId++;
    Json::Value frame(Json::objectValue);
    frame["id"] = Json::Int64(id);
    frame["op"] = op;
    frame["args"] = args;
    return mSocket.sendFrame(frame) ? id : 0;
}

Json::Value BusPeer::waitFrame(const std::function<bool(const Json::Value&)>& pred,
                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Json::Value();
        Json::Value frame = mSocket.readFrame(left);
        if (frame.isNull() || pred(frame)) return frame;
    }
}

Json::Value BusPeer::waitReply(int64_t id, std::chrono::milliseconds timeout) {
    return waitFrame(
        [id](const Json::Value& f) { return f["id"].isInt64() && f["id"].asInt64() == id; },
        timeout);
}

bool BusPeer::registerMids(const std::vector<int32_t>& mids) {
    Json::Value args(Json::objectValue);
    args["mids"] = Json::Value(Json::arrayValue);
    for (int32_t mid : mids) args["mids"].append(mid);
    const int64_t id = send("bus.register", args);
    // The registration holds once its reply is there.
    const Json::Value reply = id != 0 ? waitReply(id, 5s) : Json::Value();
    return reply["ok"].isBool() && reply["ok"].asBool();
}

bool BusPeer::write(int32_t mid, const std::string& payload) {
    Json::Value args(Json::objectValue);
    args["mid"] = mid;
    args["payload"] = payload;
    args["scope"] = "remote";
    args["flags"] = 0;
    return send("bus.write", args) != 0;
}

Json::Value BusPeer::waitAlert(int32_t mid, std::chrono::milliseconds timeout) {
    return waitFrame(
        [mid](const Json::Value& f) { return f["event"] == "bus.alert" && f["mid"] == mid; },
        timeout);
}

bool EchoClient::start(const std::string& runDir) {
    if (!mPeer.connect(runDir) || !mPeer.registerMids({mIn})) return false;
    mThread = std::thread([this] { run(); });
    return true;
}

void EchoClient::stop() {
    if (!mThread.joinable()) return;
    mStopping = true;
    // Ends the blocking read: the thread sees end of file and then the flag.
    ::shutdown(mPeer.socket().fd(), SHUT_RDWR);
    mThread.join();
}

void EchoClient::run() {
    while (!mStopping) {
        const auto before = std::chrono::steady_clock::now();
        const Json::Value frame = mPeer.socket().readFrame(10s);
        if (frame.isNull()) {
            // A null long before the time-out is the end of the connection.
            if (std::chrono::steady_clock::now() - before < 9s) return;
            continue;
        }
        if (frame["event"] == "bus.alert" && frame["mid"] == mIn) {
            mPeer.write(mOut, frame["payload"].asString());
        }
    }
}

std::string GetPayload(const std::string& uuid) {
    return R"({"request_type":"get","id":"tos","device_uuid":")" + uuid + "\"}";
}

}  // namespace orvix::bench
