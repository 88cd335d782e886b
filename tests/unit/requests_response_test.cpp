// The receiver's answers to client SET requests: replies, result texts, consent settings and
// the pending table.
#include <climits>

#include "tests/unit/RequestsTestSupport.h"

using namespace orvix::test;

TEST_F(RequestsTest, EachCodeGivesItsReplyAndOnlyZeroOrMoreRecordTheConsent) {
    startController();
    const std::string tos = std::string(kGoogleCastTOS) + "=true";
    const std::string usage = std::string(kGoogleCastUsageReport) + "=";
    struct Case {
        int32_t code;
        const char* id;
        const char* action;
        const char* text;
        std::string write;  // empty: the settings are left alone
    };
    const std::vector<Case> cases = {
        {0, "tos", "accepted", "Request approved successfully!", tos},
        {4, "tos", "accepted", "Error:Response for request has not arrived in time", tos},
        {1, "crash_report", "refused", "Unknown error!", usage + "false"},
        {11, "crash_report", "accepted", "Error: Receiver is not accepting resources",
         usage + "true"},
        {12, "crash_report", "accepted", "", usage + "true"},  // codes the table does not know
        {INT_MAX, "crash_report", "no", "", usage + "false"},
        {-1, "tos", "accepted", "requestID error!", ""},
        {-2, "tos", "accepted", "parsing failed!", ""},
        {-3, "tos", "accepted", "insufficient data to handle request!", ""},
        {-4, "tos", "accepted", "Configuration already updated!", ""},
        {-5, "crash_report", "accepted", "Cast server unreachable try after 5 secs!", ""},
        {-6, "tos", "accepted", "Invalid json data!", ""},
        {-7, "tos", "accepted", "Unknown error!", ""},
        {INT_MIN, "tos", "accepted", "Unknown error!", ""},
    };
    int32_t requestId = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        setSetting(kGoogleCastTOS, "");
        request(Set(c.id, c.action));
        respond(++requestId, c.code);
        EXPECT_EQ(newReplies(), Lines{SetReply(c.code >= 0 ? "success" : "failure", c.text, c.id,
                                               c.action, "phone-1")});
        EXPECT_EQ(newSettingWrites(), c.write.empty() ? Lines() : Lines{c.write});
        EXPECT_TRUE(logged(
            At(LOG_INFO, "castcontroller: HandleClientResponsejson() Entered, error:" +
                             std::to_string(c.code) + " request id:" + std::to_string(requestId))));
    }
}

TEST_F(RequestsTest, AnswersNobodyWaitsForOnlyLogThatTheirIdIsUnknown) {
    startController();
    setSetting(kTimeZone, "Europe/Berlin");
    request(Set("tos", "accepted"));
    ASSERT_EQ(castRequests(), (Lines{"AcceptTos[]=1", R"(SetTimezone["Europe/Berlin"]=2)"}));
    respond(1, 0);
    mLog.clear();
    // The timezone sent along, the one already answered, one never handed out, "no request".
    for (int32_t id : {2, 1, 99, INT_MIN}) respond(id, 0);
    EXPECT_EQ(
        logLines(),
        Lines(4, At(LOG_ERR,
                    "castcontroller: HandleOnCastResponse() Received request id is not in map!!")));
    EXPECT_EQ(newReplies(), Lines{SetReply("success", "Request approved successfully!", "tos",
                                           "accepted", "phone-1")});
    EXPECT_EQ(newSettingWrites(), Lines{std::string(kGoogleCastTOS) + "=true"});
}
