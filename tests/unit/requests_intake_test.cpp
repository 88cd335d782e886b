// Client request intake and the GET reply, hostile payloads included.
#include "tests/unit/RequestsTestSupport.h"

using namespace orvix::test;

namespace {

const std::string kIntake = "castcontroller: HandleClientRequest() ";
const std::string kInvalid = kIntake + "Invalid json object to parse! Error:";
const std::string kNul(1, '\0');
const std::string kGetReplyLine =
    "castcontroller: HandleClientGetRequest() response to cast client GET request is ";

std::string Get(const std::string& uuid = R"("phone-1")", const std::string& id = R"("tos")") {
    return R"({"request_type":"get","id":)" + id + R"(,"device_uuid":)" + uuid + "}";
}

std::string GetReply(bool crash, bool tos, const std::string& uuid = "phone-1") {
    return std::string(R"({"crash_report":)") + (crash ? "true" : "false") + R"(,"device_uuid":")" +
           uuid + R"(","id":"status","status":"success","tos":")" +
           (tos ? "activated" : "not_activated") + R"("})";
}

}  // namespace

TEST_F(RequestsTest, RejectedRequestsLogOneErrorAndSendNothing) {
    startController();
    const std::string noType = kIntake + "json data hasn't contain request type key member!";
    const std::string unknown = kIntake + "Request type unspecified can't handle request!";
    const std::string setHead = R"({"request_type":"set","id":"tos","action":"accepted",)";
    struct Case {
        std::string payload;
        std::string line;  // empty: nothing at all is logged
        bool readerText;   // the line goes on with the reader's error text
    };
    const std::vector<Case> cases = {
        {"", "", false},
        {kNul + Get(), kInvalid, true},  // the payload ends at its first NUL
        {"{", kInvalid, true},
        {"[]", kInvalid, false},
        {"{}", noType, false},
        {R"({"request_type":"GET","id":"tos","device_uuid":"phone-1"})", unknown, false},
        {R"({"request_type":1,"id":"tos","device_uuid":"phone-1"})", unknown, false},
        // Text members holding what has no text form, and nesting past the reader's limit,
        // which makes jsoncpp throw: dropped before anything is asked of the receiver.
        {Get(R"({"a":"b"})"), kInvalid, true},
        {setHead + R"("device_uuid":"phone-1","user_ip":{}})", kInvalid, true},
        {setHead + R"("device_uuid":[],"user_ip":"10.0.0.2"})", kInvalid, true},
        {std::string(100000, '['), kInvalid, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload.substr(0, 80));
        mLog.clear();
        request(c.payload);
        const Lines lines = logLines();
        ASSERT_EQ(lines.size(), c.line.empty() ? 0u : 1u);
        if (lines.empty()) continue;
        const std::string want = At(LOG_ERR, c.line);
        EXPECT_EQ(lines[0].substr(0, want.size()), want);
        EXPECT_EQ(lines[0].size() > want.size(), c.readerText) << lines[0];
    }
    postAndSettle(new android::AMessage(kWhatClientRequest));  // no payload at all
    EXPECT_EQ(newReplies(), Lines());
    EXPECT_EQ(castRequests(), Lines());
}

TEST_F(RequestsTest, GetIsAnsweredFromTheSettingsWithoutTheReceiver) {
    startLooperAndBus();  // no cast control at all
    const std::string none = GetReply(false, false);
    const std::string huge(1 << 20, 'x');
    struct Case {
        const char* tos;
        const char* crash;
        std::string payload;
        std::string reply;  // empty: no reply
    };
    const std::vector<Case> cases = {
        {"", "", Get(), none},
        {"", "", Get(R"("phone-1")", "[[{}]]"), none},  // the id is never read
        {"", "", Get() + R"( trailing {"request_type":"set" [)", none},
        {"true", "true", Get(), GetReply(true, true)},
        {"true", "false", Get(), GetReply(false, true)},
        {"True", "TRUE", Get(), none},
        {"", "", Get("42"), GetReply(false, false, "42")},
        {"", "", Get("null"), GetReply(false, false, "")},
        {"", "", Get(R"("a\u0000b")"), GetReply(false, false, R"(a\u0000b)")},
        {"", "", Get('"' + huge + '"'), GetReply(false, false, huge)},
        {"", "", R"({"request_type":"get","device_uuid":"phone-1"})", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload.substr(0, 80));
        setSetting(kGoogleCastTOS, c.tos);
        setSetting(kGoogleCastUsageReport, c.crash);
        request(c.payload);
        EXPECT_EQ(newReplies(), c.reply.empty() ? Lines() : Lines{c.reply});
    }
    EXPECT_TRUE(logged(At(LOG_NOTICE, kGetReplyLine + none)));
    EXPECT_TRUE(logged(At(LOG_INFO,
                          "castcontroller: HandleClientGetRequest() insufficient json "
                          "data in the GET request")));
    EXPECT_EQ(newSettingWrites(), Lines());
    EXPECT_TRUE(world().receiver().calls().empty());
}
