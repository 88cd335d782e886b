// Client requests as they come off the bus (MID 571): the intake, the GET and SET handlers and,
// when the receiver answers, the reply. Each input is one payload; a hash of it picks the
// receiver's mood (refusing, answering with some code, silent) and the stored settings, so the
// same payload meets several situations over a run.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "core/Messages.h"
#include "platform/device/EnvItems.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/ControllerHarness.h"

using orvix::fuzz::ControllerHarness;
namespace model = orvix::model;

namespace {

bool IsText(const Json::Value& reply, const char* member) {
    return reply.isMember(member) && reply[member].isString();
}

void CheckReply(const std::string& text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value reply;
    FUZZ_CHECK(reader->parse(text.data(), text.data() + text.size(), &reply, nullptr),
               "reply is no JSON: %s", text.c_str());
    FUZZ_CHECK(reply.isObject() && reply.size() == 5, "reply: %s", text.c_str());
    FUZZ_CHECK(IsText(reply, "status") && IsText(reply, "device_uuid") && IsText(reply, "id"),
               "reply: %s", text.c_str());
    // A SET reply echoes the request's "id", which may well read "status" too.
    if (!reply.isMember("status_msg")) {
        FUZZ_CHECK(reply["id"] == "status" && reply["status"] == "success" &&
                       reply["crash_report"].isBool() &&
                       (reply["tos"] == "activated" || reply["tos"] == "not_activated"),
                   "GET reply: %s", text.c_str());
    } else {
        FUZZ_CHECK(reply["status"] == "success" || reply["status"] == "failure", "SET reply: %s",
                   text.c_str());
        FUZZ_CHECK(IsText(reply, "status_msg") && IsText(reply, "action"), "SET reply: %s",
                   text.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ControllerHarness& harness = ControllerHarness::Get();
    model::World& world = harness.world();
    const std::string payload(reinterpret_cast<const char*>(data), size);

    world.reset();
    harness.forgetRequests();
    harness.log().clear();
    const size_t mood = std::hash<std::string>()(payload);
    if (mood % 3 != 0)
        world.settings().set(kGoogleCastTOS, mood % 3 == 1 ? "true" : "false", model::Origin::App);
    if ((mood >> 2) % 2) world.settings().set(kTimeZone, "Europe/Berlin", model::Origin::App);
    if ((mood >> 3) % 4 == 0) {
        world.receiver().refuse("AcceptTos");
        world.receiver().refuse("SetUsageReportOptIn");
    }
    // Codes from -1 to 12: every reply text, and one code outside the table.
    const bool answers = (mood >> 5) % 3 != 0;
    if (answers) world.receiver().setAutoRespond(static_cast<int32_t>((mood >> 7) % 14) - 1);

    android::sp<android::AMessage> msg = new android::AMessage(kWhatClientRequest);
    msg->setString(kKeyMessageData, payload.data(), static_cast<ssize_t>(payload.size()));
    harness.post(msg);
    harness.quiesce();

    std::vector<std::string> replies;
    for (const model::BusWrite& write : world.bus().writes()) {
        if (write.mid == kMidClientReply && write.from == model::Origin::Daemon) {
            replies.push_back(write.payload);
        }
    }
    FUZZ_CHECK(replies.size() <= 1, "%zu replies to one request", replies.size());
    for (const std::string& reply : replies) CheckReply(reply);

    // The daemon writes only the two consent settings, and only as "true" or "false".
    for (const model::SettingChange& change : world.settings().changes()) {
        if (change.from != model::Origin::Daemon) continue;
        FUZZ_CHECK(change.key == kGoogleCastTOS || change.key == kGoogleCastUsageReport,
                   "wrote setting %s", change.key.c_str());
        FUZZ_CHECK(change.value == "true" || change.value == "false", "wrote %s=%s",
                   change.key.c_str(), change.value.c_str());
    }

    // A SET the receiver took is answered exactly when the receiver answers it.
    size_t taken = 0;
    for (const model::CastCall& call : world.receiver().calls()) {
        if ((call.op == model::CastOp::AcceptTos ||
             call.op == model::CastOp::SetUsageReportOptIn) &&
            call.result.asInt() != -1) {
            ++taken;
        }
    }
    FUZZ_CHECK(taken <= 1, "%zu consent requests for one payload", taken);
    if (taken == 1) {
        FUZZ_CHECK(replies.size() == (answers ? 1u : 0u), "%zu replies, receiver %s",
                   replies.size(), answers ? "answered" : "silent");
    }
    return 0;
}
