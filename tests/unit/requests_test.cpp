// Client requests through the looper: intake, GET, SET, the pending table and the receiver's
// answers, read as what the daemon did (replies on MID 572, receiver calls, settings) in order;
// and the device's timezone, which goes to the receiver with a SET or on its own.
#include <algorithm>

#include "tests/support/DaemonTest.h"

namespace orvix::test {

using fakes::Fakes;

namespace {

std::string Get(const std::string& uuid = R"("phone-1")") {
    return R"({"request_type":"get","id":"tos","device_uuid":)" + uuid + "}";
}

std::string GetReply(bool crash, bool tos, const std::string& uuid = "phone-1") {
    return std::string(R"(bus:572={"crash_report":)") + (crash ? "true" : "false") +
           R"(,"device_uuid":")" + uuid + R"(","id":"status","status":"success","tos":")" +
           (tos ? "activated" : "not_activated") + R"("})";
}

std::string Set(const std::string& id, const std::string& action,
                const std::string& uuid = "phone-1") {
    return R"({"request_type":"set","id":")" + id + R"(","action":")" + action +
           R"(","device_uuid":")" + uuid + R"(","user_ip":"10.0.0.2"})";
}

// Members in the writer's order.
std::string SetReply(const std::string& status, const std::string& msg, const std::string& id = "",
                     const std::string& action = "", const std::string& uuid = "phone-1") {
    return R"(bus:572={"action":")" + action + R"(","device_uuid":")" + uuid + R"(","id":")" + id +
           R"(","status":")" + status + R"(","status_msg":")" + msg + R"("})";
}

const std::string kApproved = "Request approved successfully!";
const std::string kTos = std::string("setting:") + kGoogleCastTOS + "=true";
const std::string kUsage = std::string("setting:") + kGoogleCastUsageReport + "=";

}  // namespace

class RequestsTest : public DaemonTest {
protected:
    // What the daemon did since the last call.
    Lines next() {
        Lines out = effects("", mSeen);
        mSeen += out.size();
        return out;
    }
    // "id: id action device_uuid user_ip" for each pending request, by id.
    Lines pending() {
        Lines out;
        for (const auto& [id, r] : CastControllerPeer::pending(controller())) {
            out.push_back(std::to_string(id) + ": " + r.id + " " + r.action + " " + r.deviceUuid +
                          " " + r.userIp);
        }
        std::sort(out.begin(), out.end());  // ids below 10
        return out;
    }
    size_t mSeen = 0;
};

// Everything answered or dropped at once; the receiver refuses every request it is asked.
TEST_F(RequestsTest, RequestsThatAreNotForwardedAreAnsweredOrDroppedAtOnce) {
    world().receiver().refuse("Create");
    EXPECT_FALSE(start());  // no cast control: a SET fails before any member is read
    next();
    ASSERT_TRUE(request(R"({"request_type":"set"})"));
    EXPECT_EQ(next(),
              Lines{SetReply("failure", "Cast server unreachable try after 5 secs!", "", "", "")});
    world().receiver().refuse("none");
    ASSERT_TRUE(controller().Init());
    log.clear();
    world().receiver().refuse("AcceptTos");
    world().receiver().refuse("SetUsageReportOptIn");
    setSetting(kTimeZone, "Europe/Berlin");
    next();
    const std::string none = GetReply(false, false), invalid = "Invalid json object to parse!";
    const std::string missing = "insufficient data to handle request!";
    const std::string unhandled = "Invalid json data!", refused = "requestID error!";
    const std::string setHead = R"({"request_type":"set","id":"tos","action":"accepted",)";
    const struct {
        const char *tos, *crash;  // stored
        std::string payload;
        Lines effects;
        std::string error;  // a part of the one error line, if any
    } rows[] = {
        // clang-format off
        {"", "", "", {}, ""},
        {"", "", "{", {}, invalid},
        {"", "", "[]", {}, invalid},
        {"", "", "{}", {}, "hasn't contain request type"},
        {"", "", R"({"request_type":"GET","id":"tos","device_uuid":"p"})", {}, "type unspecified"},
        // Text members holding what has no text form.
        {"", "", Get(R"({"a":"b"})"), {}, invalid},
        {"", "", setHead + R"("device_uuid":[],"user_ip":""})", {}, invalid},
        {"", "", Get(std::string("\"a\0b\"", 5)), {}, invalid},  // the text ends at its first NUL
        // A GET reads "device_uuid" and the settings, nothing else.
        {"", "", Get(), {none}, ""},
        {"", "", R"({"request_type":"get","id":[[{}]],"device_uuid":"phone-1"})", {none}, ""},
        {"true", "TRUE", Get(), {GetReply(false, true)}, ""},
        {"True", "true", Get(), {GetReply(true, false)}, ""},
        {"", "", Get("42"), {GetReply(false, false, "42")}, ""},
        // Bytes past ASCII, valid UTF-8 or not, are escaped alike whether plain char is signed
        // (x86) or not (ARM).
        {"", "", Get("\"K\xc3\xbc\xff" "che\x7f\""),
         {GetReply(false, false, "K\\u00fc\\ufffdche\x7f")}, ""},
        {"", "", R"({"request_type":"get","device_uuid":"phone-1"})", {}, ""},
        {"", "", R"({"request_type":"get","id":"tos"})", {}, ""},
        // A SET missing a member, with a pair not handled, already done, or refused.
        {"", "", setHead + R"("device_uuid":"p"})", {SetReply("failure", missing, "", "", "")}, ""},
        {"", "", Set("tos", "declined"), {SetReply("failure", unhandled, "tos", "declined")}, ""},
        {"true", "", Set("tos", "accepted"),
         {SetReply("failure", "Configuration already updated!", "tos", "accepted")}, ""},
        {"True", "", Set("tos", "accepted"),
         {"cast:AcceptTos[]=-1", SetReply("failure", refused, "tos", "accepted")}, ""},
        {"", "", Set("crash_report", "declined"),
         {"cast:SetUsageReportOptIn[false]=-1",
          SetReply("failure", refused, "crash_report", "declined")}, ""},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.payload.substr(0, 80));
        setSetting(kGoogleCastTOS, row.tos);
        setSetting(kGoogleCastUsageReport, row.crash);
        ASSERT_TRUE(request(row.payload));
        EXPECT_EQ(next(), row.effects);
        EXPECT_EQ(log.count("", LOG_ERR), row.error.empty() ? 0u : 1u);
        EXPECT_TRUE(log.has(row.error, LOG_ERR) || row.error.empty());
        log.clear();
    }
    EXPECT_EQ(pending(), Lines());
    for (size_t n = 330; n < 345; ++n) {  // the reply's log line crosses 512 bytes
        ASSERT_TRUE(request(Get('"' + std::string(n, 'x') + '"')));
        EXPECT_TRUE(log.has(next().at(0).substr(8), LOG_NOTICE)) << n;
    }
}

TEST_F(RequestsTest, ForwardedSetsWaitUnderTheirIdsTheTimezoneGoesAlongUntilTakenAnswersFindThem) {
    ASSERT_TRUE(start());
    next();
    const struct {
        const char *zone, *refuse;  // stored; refused by the receiver
        std::string payload;
        Lines effects;
        const char* sent;  // the timezone the daemon holds as sent
    } rows[] = {
        // clang-format off
        {"", "none", Set("tos", "accepted"), {"cast:AcceptTos[]"}, ""},
        {"Asia/Tokyo", "SetTimezone", Set("tos", "accepted", "tablet"),
         {"cast:AcceptTos[]", R"(cast:SetTimezone["Asia/Tokyo"]=-1)"}, ""},
        {"UTC", "none", Set("tos", "accepted", "tv"),
         {"cast:AcceptTos[]", R"(cast:SetTimezone["UTC"])"}, "UTC"},
        {"America/Lima", "none", Set("tos", "accepted", "radio"), {"cast:AcceptTos[]"}, "UTC"},
        {"", "none", Set("crash_report", "accepted", "speaker"), {"cast:SetUsageReportOptIn[true]"},
         "UTC"},
        {"", "none", Set("crash_report", "ACCEPTED", "tablet"), {"cast:SetUsageReportOptIn[false]"},
         "UTC"},
        // The device's own word (MID 573, no payload) sends the zone alone, if there is one.
        {"Asia/Tokyo", "SetTimezone", "", {R"(cast:SetTimezone["Asia/Tokyo"]=-1)"}, "UTC"},
        {"", "none", "", {}, "UTC"},
        {"Europe/Berlin", "none", "", {R"(cast:SetTimezone["Europe/Berlin"])"}, "Europe/Berlin"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.payload);
        setSetting(kTimeZone, row.zone);
        world().receiver().refuse(row.refuse);
        ASSERT_TRUE(row.payload.empty() ? Fakes().appWrite(kMidOemTimezone, "") && deliver()
                                        : request(row.payload));
        EXPECT_EQ(next(), row.effects);
        EXPECT_EQ(CastControllerPeer::timezone(controller()), row.sent);
    }
    EXPECT_EQ(pending(),
              (Lines{"1: tos accepted phone-1 10.0.0.2", "2: tos accepted tablet 10.0.0.2",
                     "3: tos accepted tv 10.0.0.2", "5: tos accepted radio 10.0.0.2",
                     "6: crash_report accepted speaker 10.0.0.2",
                     "7: crash_report ACCEPTED tablet 10.0.0.2"}));
    // A receiver that starts counting again hands out an id still pending: the new record takes
    // it. An id answered already, the timezone's (4) and one never given find nobody.
    world().receiver().reset();
    mSeen = mark();
    ASSERT_TRUE(request(Set("crash_report", "declined", "tv")));
    for (int32_t id : {1, 1, 4, 99}) ASSERT_TRUE(respond(id, 0));
    EXPECT_EQ(next(), (Lines{"cast:SetUsageReportOptIn[false]", kUsage + "false",
                             SetReply("success", kApproved, "crash_report", "declined", "tv")}));
    EXPECT_EQ(log.count("Received request id is not in map!!", LOG_ERR), 3u);
}

TEST_F(RequestsTest, EachAnswerGivesOneReplyAndOnlyCodesFromZeroUpRecordTheConsent) {
    ASSERT_TRUE(start());
    // Each code with the request it answers (the terms, or crash reports: accepted, but
    // refused for code 1) and its reply's text.
    const char *t = "tos", *c = "crash_report";
    // clang-format off
    const struct { int32_t code; const char *id, *text; } rows[] = {
        {0, t, kApproved.c_str()}, {1, c, "Unknown error!"}, {12, c, ""},
        {2, c, "Error:Cast shell is not reachable"},
        {3, t, "Error:Update cast shell or controller"},
        {4, t, "Error:Response for request has not arrived in time"},
        {5, t, "Error:Castcontrol has not implemented this request"},
        {6, t, "Error:User action when no media session was available"},
        {7, t, "Error:Current app doesn't support required namespace"},
        {8, t, "Error:Multizone is not enabled in cast shell"},
        {9, t, "Error:The request contained poorly-formatted or invalid data"},
        {10, t, "Error:Response arrived but was formatted incorrectly"},
        {11, t, "Error: Receiver is not accepting resources"},
        {-1, t, "requestID error!"}, {-2, t, "parsing failed!"},
        {-3, t, "insufficient data to handle request!"}, {-4, t, "Configuration already updated!"},
        {-5, c, "Cast server unreachable try after 5 secs!"}, {-6, t, "Invalid json data!"},
        {-7, t, "Unknown error!"},
    };
    // clang-format on
    int32_t requestId = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        const std::string action = row.code == 1 ? "refused" : "accepted";
        setSetting(kGoogleCastTOS, "");
        ASSERT_TRUE(request(Set(row.id, action)));
        next();
        ASSERT_TRUE(respond(++requestId, row.code));
        Lines want;
        if (row.code >= 0)
            want.push_back(row.id == t ? kTos : kUsage + (row.code == 1 ? "false" : "true"));
        want.push_back(SetReply(row.code >= 0 ? "success" : "failure", row.text, row.id, action));
        EXPECT_EQ(next(), want);
    }
}

}  // namespace orvix::test
