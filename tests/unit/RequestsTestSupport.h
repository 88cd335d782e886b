// What the client request tests share: a controller fixture that posts requests and cast
// responses through its looper and reads back replies, receiver calls, settings and log lines.
#pragma once

#include <json/json.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using Lines = std::vector<std::string>;

inline std::string Set(const std::string& id, const std::string& action,
                       const std::string& uuid = "phone-1") {
    return R"({"request_type":"set","id":")" + id + R"(","action":")" + action +
           R"(","device_uuid":")" + uuid + R"(","user_ip":"10.0.0.2"})";
}

// The SET reply, members in jsoncpp's order.
inline std::string SetReply(const std::string& status, const std::string& msg,
                            const std::string& id = "", const std::string& action = "",
                            const std::string& uuid = "") {
    return R"({"action":")" + action + R"(","device_uuid":")" + uuid + R"(","id":")" + id +
           R"(","status":")" + status + R"(","status_msg":")" + msg + R"("})";
}

// A log line as logLines() shows it.
inline std::string At(int priority, const std::string& text) {
    return std::to_string(priority) + " " + text;
}

class RequestsTest : public DaemonTest {
protected:
    // A client payload as the bus bridge posts it (embedded NULs kept), handled to the end.
    void request(const std::string& payload) {
        android::sp<android::AMessage> msg = new android::AMessage(kWhatClientRequest);
        msg->setString(kKeyMessageData, payload.data(), static_cast<ssize_t>(payload.size()));
        postAndSettle(msg);
    }

    // The observer's message for the receiver's answer, handled to the end.
    void respond(int32_t requestId, int32_t code) {
        android::sp<android::AMessage> msg = new android::AMessage(kWhatCastResponse);
        msg->setInt32(kKeyRequestId, requestId);
        msg->setInt32(kKeyResultMsg, code);
        postAndSettle(msg);
    }

    // What the daemon wrote on the client reply MID since the last call, in order.
    Lines newReplies() {
        Lines out;
        const std::vector<model::BusWrite> writes = world().bus().writes();
        for (size_t i = mWritesSeen; i < writes.size(); ++i) {
            const model::BusWrite& w = writes[i];
            if (w.mid == kMidClientReply && w.from == model::Origin::Daemon) {
                EXPECT_EQ(w.scope, model::Scope::Remote);
                out.push_back(w.payload);
            }
        }
        mWritesSeen = writes.size();
        return out;
    }

    // The receiver's request operations the daemon called, as "Op[args]=result".
    Lines castRequests() {
        Lines out;
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        for (const model::CastCall& call : world().receiver().calls()) {
            if (call.op == model::CastOp::Create) continue;
            out.push_back(std::string(model::castOpName(call.op)) +
                          Json::writeString(builder, call.args) + "=" + call.result.asString());
        }
        return out;
    }

    void setSetting(const char* key, const std::string& value) {
        world().settings().set(key, value, model::Origin::App);
    }
    // "key=value" for each settings write of the daemon since the last call.
    Lines newSettingWrites() {
        Lines out;
        const std::vector<model::SettingChange> changes = world().settings().changes();
        for (size_t i = mChangesSeen; i < changes.size(); ++i) {
            const model::SettingChange& c = changes[i];
            if (c.from == model::Origin::Daemon) out.push_back(c.key + "=" + c.value);
        }
        mChangesSeen = changes.size();
        return out;
    }

    // "priority text" for each line but the "Entered" traces every handler writes.
    Lines logLines() {
        Lines out;
        for (const LogLine& line : mLog.lines()) {
            const std::string& t = line.text;
            if (t.size() < 10 || t.compare(t.size() - 10, 10, "() Entered") != 0) {
                out.push_back(At(line.priority, t));
            }
        }
        return out;
    }

    bool logged(const std::string& line) {
        const Lines all = logLines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    // "id: id action device_uuid user_ip" for each pending request, by id.
    Lines pending() {
        Lines out;
        const auto& table = CastControllerPeer::pending(*mController);
        for (const auto& e : std::map<int32_t, ClientSetRequest>(table.begin(), table.end())) {
            out.push_back(std::to_string(e.first) + ": " + e.second.id + " " + e.second.action +
                          " " + e.second.deviceUuid + " " + e.second.userIp);
        }
        return out;
    }

    size_t mWritesSeen = 0;
    size_t mChangesSeen = 0;
};

}  // namespace orvix::test
