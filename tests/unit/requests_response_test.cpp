// The receiver's answers to client SET requests: replies, result texts, consent settings and
// the pending table.
#include <climits>
#include <string>
#include <vector>

#include "tests/unit/RequestsTestSupport.h"

using orvix::fakes::Fakes;
using orvix::test::RequestsTest;
using Lines = std::vector<std::string>;

namespace {

const std::string kNotInMap =
    "castcontroller: HandleOnCastResponse() Received request id is not in map!!";
const std::string kSetReplyLine =
    "castcontroller: HandleClientResponsejson() response for cast client SET request is ";

std::string Set(const std::string& id, const std::string& action) {
    return R"({"request_type":"set","id":")" + id + R"(","action":")" + action +
           R"(","device_uuid":"phone-1","user_ip":"10.0.0.2"})";
}

std::string Reply(const std::string& status, const std::string& msg, const std::string& id,
                  const std::string& action) {
    return R"({"action":")" + action + R"(","device_uuid":"phone-1","id":")" + id +
           R"(","status":")" + status + R"(","status_msg":")" + msg + R"("})";
}

std::string Entered(int code, int requestId) {
    return "castcontroller: HandleClientResponsejson() Entered, error:" + std::to_string(code) +
           " request id:" + std::to_string(requestId);
}

}  // namespace

TEST_F(RequestsTest, AppRoundTripThroughTheBusAndTheReceiver) {
    startController();
    const std::string get = R"({"request_type":"get","id":"tos","device_uuid":"phone-1"})";
    auto send = [&](const std::string& payload) {
        ASSERT_TRUE(Fakes().appWrite(kMidClientRequest, payload));
        Fakes().drain();
        settle();
    };

    send(get);
    send(Set("tos", "accepted"));
    EXPECT_EQ(castRequests(), Lines{"AcceptTos[]=1"});
    ASSERT_TRUE(Fakes().castRespond(1, 0));
    Fakes().drain();
    settle();
    send(get);
    send(Set("tos", "accepted"));

    const std::string approved =
        Reply("success", "Request approved successfully!", "tos", "accepted");
    EXPECT_EQ(replies(),
              (Lines{R"({"crash_report":false,"device_uuid":"phone-1","id":"status",)"
                     R"("status":"success","tos":"not_activated"})",
                     approved,
                     R"({"crash_report":false,"device_uuid":"phone-1","id":"status",)"
                     R"("status":"success","tos":"activated"})",
                     Reply("failure", "Configuration already updated!", "tos", "accepted")}));
    EXPECT_EQ(daemonSettingWrites(), Lines{std::string(kGoogleCastTOS) + "=true"});
    EXPECT_EQ(castRequests(), Lines{"AcceptTos[]=1"});
    EXPECT_TRUE(CastControllerPeer::pending(*mController).empty());

    EXPECT_TRUE(logged(Entered(0, 1), LOG_INFO));
    EXPECT_TRUE(logged(kSetReplyLine + approved, LOG_NOTICE));
    EXPECT_LT(mLog.indexOf(Entered(0, 1)), mLog.indexOf(kSetReplyLine + approved));
    // The consent is stored before the client hears of it.
    ASSERT_FALSE(world().settings().changes().empty());
    uint64_t stored = world().settings().changes().back().stamp.seq;
    for (const orvix::model::BusWrite& w : world().bus().writes()) {
        if (w.payload == approved) {
            EXPECT_LT(stored, w.stamp.seq);
        }
    }

    // The same answer again finds nothing to answer.
    mLog.clear();
    respond(1, 0);
    EXPECT_EQ(mLog.lines().size(), 1u);
    EXPECT_TRUE(logged(kNotInMap, LOG_ERR));
    EXPECT_EQ(replies().size(), 4u);
    EXPECT_EQ(daemonSettingWrites().size(), 1u);
}

TEST_F(RequestsTest, EveryCodeOfZeroOrMoreIsASuccessAndRecordsTheConsent) {
    startController();
    const std::vector<std::string> texts = {
        "Request approved successfully!",
        "Unknown error!",
        "Error:Cast shell is not reachable",
        "Error:Update cast shell or controller",
        "Error:Response for request has not arrived in time",
        "Error:Castcontrol has not implemented this request",
        "Error:User action when no media session was available",
        "Error:Current app doesn't support required namespace",
        "Error:Multizone is not enabled in cast shell",
        "Error:The request contained poorly-formatted or invalid data",
        "Error:Response arrived but was formatted incorrectly",
        "Error: Receiver is not accepting resources",
        "",  // 12: a code the table does not know
    };
    const std::string usage = std::string(kGoogleCastUsageReport) + "=";
    Lines expectedWrites;
    for (size_t code = 0; code < texts.size(); ++code) {
        SCOPED_TRACE(code);
        const std::string action = code % 2 == 0 ? "accepted" : "refused";
        request(Set("crash_report", action));
        int32_t id = static_cast<int32_t>(code) + 1;
        ASSERT_EQ(pendingIds(), std::vector<int32_t>{id});
        respond(id, static_cast<int32_t>(code));
        EXPECT_EQ(lastReply(), Reply("success", texts[code], "crash_report", action));
        expectedWrites.push_back(usage + (code % 2 == 0 ? "true" : "false"));
        EXPECT_TRUE(logged(Entered(static_cast<int>(code), id), LOG_INFO));
    }
    request(Set("crash_report", "accepted"));
    respond(14, INT_MAX);
    EXPECT_EQ(lastReply(), Reply("success", "", "crash_report", "accepted"));
    expectedWrites.push_back(usage + "true");

    // The terms of service are recorded as accepted even when the receiver reports an error.
    request(Set("tos", "accepted"));
    respond(15, 4);
    EXPECT_EQ(lastReply(), Reply("success", "Error:Response for request has not arrived in time",
                                 "tos", "accepted"));
    expectedWrites.push_back(std::string(kGoogleCastTOS) + "=true");

    EXPECT_EQ(daemonSettingWrites(), expectedWrites);
    EXPECT_EQ(replies().size(), texts.size() + 2);
    EXPECT_TRUE(CastControllerPeer::pending(*mController).empty());
}

TEST_F(RequestsTest, NegativeCodesFailAndLeaveTheSettingsAlone) {
    startController();
    const std::vector<std::pair<int32_t, std::string>> codes = {
        {-1, "requestID error!"},
        {-2, "parsing failed!"},
        {-3, "insufficient data to handle request!"},
        {-4, "Configuration already updated!"},
        {-5, "Cast server unreachable try after 5 secs!"},
        {-6, "Invalid json data!"},
        {-7, "Unknown error!"},
        {INT_MIN, "Unknown error!"},
    };
    int32_t id = 0;
    for (const auto& code : codes) {
        SCOPED_TRACE(code.first);
        request(Set("tos", "accepted"));
        respond(++id, code.first);
        EXPECT_EQ(lastReply(), Reply("failure", code.second, "tos", "accepted"));
        EXPECT_TRUE(logged(Entered(code.first, id), LOG_INFO));
    }
    EXPECT_EQ(replies().size(), codes.size());
    EXPECT_EQ(daemonSettingWrites(), Lines());
    EXPECT_TRUE(CastControllerPeer::pending(*mController).empty());

    EXPECT_EQ(CastController::ResultCodeToMessage(0), "success!");
    EXPECT_EQ(CastController::ResultCodeToMessage(1), "Unknown error!");
}

TEST_F(RequestsTest, AnswersToRequestsNoClientMadeOnlyLog) {
    startController();
    setSetting(kTimeZone, "Europe/Berlin");
    request(Set("tos", "accepted"));
    ASSERT_EQ(castRequests(), (Lines{"AcceptTos[]=1", R"(SetTimezone["Europe/Berlin"]=2)"}));
    mLog.clear();

    // The timezone sent along, ids never handed out, and the "no request" id.
    respond(2, 0);
    respond(99, 3);
    respond(-1, -1);
    respond(INT_MIN, 0);
    EXPECT_EQ(mLog.lines().size(), 4u);
    EXPECT_EQ(mLog.count(kNotInMap, LOG_ERR), 4u);
    EXPECT_EQ(replies(), Lines());
    EXPECT_EQ(daemonSettingWrites(), Lines());
    EXPECT_EQ(pendingIds(), std::vector<int32_t>{1});

    respond(1, 0);
    EXPECT_EQ(replies(),
              Lines{Reply("success", "Request approved successfully!", "tos", "accepted")});
    EXPECT_EQ(setting(kGoogleCastTOS), "true");
}
