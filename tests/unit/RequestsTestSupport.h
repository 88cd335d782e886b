// What the client request tests share: a controller fixture that sends requests and cast
// responses through its looper and reads back replies, receiver calls, settings and exact
// log lines.
#pragma once

#include <json/json.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

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

    // Everything the daemon wrote on the client reply MID, in order.
    std::vector<std::string> replies() {
        std::vector<std::string> out;
        for (const model::BusWrite& w : world().bus().writes()) {
            if (w.mid == kMidClientReply && w.from == model::Origin::Daemon) {
                EXPECT_EQ(w.scope, model::Scope::Remote);
                out.push_back(w.payload);
            }
        }
        return out;
    }

    std::string lastReply() {
        std::vector<std::string> all = replies();
        return all.empty() ? "(no reply)" : all.back();
    }

    // The receiver's request operations the daemon called, as "Op[args]=result".
    std::vector<std::string> castRequests() {
        std::vector<std::string> out;
        for (const model::CastCall& call : world().receiver().calls()) {
            if (call.op == model::CastOp::Create) continue;
            out.push_back(std::string(model::castOpName(call.op)) + Compact(call.args) + "=" +
                          Compact(call.result));
        }
        return out;
    }

    std::string lastCastRequest() {
        std::vector<std::string> all = castRequests();
        return all.empty() ? "(no request)" : all.back();
    }

    void setSetting(const char* key, const std::string& value) {
        world().settings().set(key, value, model::Origin::App);
    }
    std::string setting(const char* key) { return world().settings().value(key); }
    // "key=value" for every write the daemon made to the settings store.
    std::vector<std::string> daemonSettingWrites() {
        std::vector<std::string> out;
        for (const model::SettingChange& c : world().settings().changes()) {
            if (c.from == model::Origin::Daemon) out.push_back(c.key + "=" + c.value);
        }
        return out;
    }

    // True when a line reads exactly text at priority.
    bool logged(const std::string& text, int priority) {
        for (const LogLine& line : mLog.lines()) {
            if (line.text == text && line.priority == priority) return true;
        }
        return false;
    }
    // The log lines, minus the "Entered" traces, which every handler writes.
    std::vector<std::string> linesBesidesEntered() {
        std::vector<std::string> out;
        for (const LogLine& line : mLog.lines()) {
            if (line.text.find("() Entered") == std::string::npos) out.push_back(line.text);
        }
        return out;
    }

    std::vector<int32_t> pendingIds() {
        std::vector<int32_t> ids;
        for (const auto& entry : CastControllerPeer::pending(*mController)) {
            ids.push_back(entry.first);
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    ClientSetRequest pendingAt(int32_t id) {
        const auto& table = CastControllerPeer::pending(*mController);
        auto entry = table.find(id);
        if (entry == table.end()) {
            ADD_FAILURE() << "no pending request " << id;
            return {};
        }
        return entry->second;
    }

    static std::string Compact(const Json::Value& value) {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        return Json::writeString(builder, value);
    }
};

}  // namespace orvix::test
