// Client request intake, routing and GET replies, hostile payloads included.
#include <string>
#include <vector>

#include "tests/unit/RequestsTestSupport.h"

using orvix::test::RequestsTest;
using Lines = std::vector<std::string>;

namespace {

const std::string kIntake = "castcontroller: HandleClientRequest() ";
const std::string kInvalid = kIntake + "Invalid json object to parse! Error:";
const std::string kNoType = kIntake + "json data hasn't contain request type key member!";
const std::string kUnknownType = kIntake + "Request type unspecified can't handle request!";
const std::string kGetReplyLine =
    "castcontroller: HandleClientGetRequest() response to cast client GET request is ";

// The GET reply for device "phone-1" with both consents unset.
const std::string kNotActivated =
    R"({"crash_report":false,"device_uuid":"phone-1","id":"status","status":"success",)"
    R"("tos":"not_activated"})";

std::string Get(const std::string& idMember, const std::string& uuid = R"("phone-1")") {
    return R"({"request_type":"get",)" + idMember + R"("device_uuid":)" + uuid + "}";
}

}  // namespace

TEST_F(RequestsTest, RejectedRequestsLogOneLineAndGetNoReply) {
    startController();
    mLog.clear();

    // No payload at all, or an empty one: not even an error line.
    postAndSettle(new android::AMessage(kWhatClientRequest));
    request("");
    EXPECT_EQ(linesBesidesEntered(), Lines());
    EXPECT_EQ(mLog.count("castcontroller: HandleClientRequest() Entered", LOG_INFO), 2u);

    struct Case {
        std::string payload;
        std::string line;
    };
    const std::string getBody = R"("id":"tos","device_uuid":"phone-1"})";
    const std::vector<Case> cases = {
        {"[]", kInvalid},
        {R"("get")", kInvalid},
        {"{}", kNoType},
        {R"({"id":"tos","device_uuid":"phone-1"})", kNoType},
        {R"({"request_type":"GET",)" + getBody, kUnknownType},
        {R"({"request_type":"Set",)" + getBody, kUnknownType},
        {R"({"request_type":" get",)" + getBody, kUnknownType},
        {R"({"request_type":1,)" + getBody, kUnknownType},
        {R"({"request_type":null,)" + getBody, kUnknownType},
        {R"({"request_type":true,)" + getBody, kUnknownType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        mLog.clear();
        request(c.payload);
        EXPECT_TRUE(logged(c.line, LOG_ERR));
        EXPECT_EQ(linesBesidesEntered(), Lines{c.line});
    }

    // Invalid JSON carries the reader's own error text; so does a payload that the first NUL
    // cuts down to nothing.
    for (const std::string& payload : {std::string("{"), std::string("{\"request_type\":\"get\""),
                                       std::string("\0", 1) + R"({"request_type":"get",)" + getBody,
                                       R"({"request_type":"get","id":"tos","device_uuid":"pho)" +
                                           std::string("\0", 1) + R"(ne-1"})"}) {
        SCOPED_TRACE(payload);
        mLog.clear();
        request(payload);
        Lines lines = linesBesidesEntered();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(kInvalid + "* Line 1, Column ", 0), 0u) << lines[0];
        EXPECT_EQ(mLog.count(kInvalid, LOG_ERR), 1u);
    }

    EXPECT_EQ(replies(), Lines());
    EXPECT_EQ(castRequests(), Lines());
}

TEST_F(RequestsTest, RoutingIsExactAndTheFirstJsonValueCounts) {
    startController();

    // A GET carrying SET members is still a GET.
    request(R"({"request_type":"get","id":"tos","action":"accepted","user_ip":"10.0.0.2",)"
            R"("device_uuid":"phone-1"})");
    // Whatever follows the first complete value, or the first NUL, is not looked at.
    request(Get(R"("id":"tos",)") + R"( trailing {"request_type":"set" [)");
    request(Get(R"("id":"tos",)") + std::string("\0{{{", 4));
    EXPECT_EQ(replies(), Lines(3, kNotActivated));
    EXPECT_FALSE(mLog.has("HandleClientSetRequest"));
    EXPECT_EQ(castRequests(), Lines());

    request(R"({"request_type":"set","id":"crash_report","action":"accepted",)"
            R"("device_uuid":"phone-1","user_ip":"10.0.0.2"})");
    EXPECT_EQ(castRequests(), Lines{"SetUsageReportOptIn[true]=1"});
    EXPECT_EQ(replies().size(), 3u);
}

TEST_F(RequestsTest, GetIsAnsweredFromTheSettingsWithoutTheReceiver) {
    // No Init: there is no cast control at all.
    startLooperAndBus();

    for (const char* id : {R"("id":"tos",)", R"("id":"crash_report",)", R"("id":"volume",)",
                           R"("id":5,)", R"("id":null,)"}) {
        request(Get(id));
    }
    EXPECT_EQ(replies(), Lines(5, kNotActivated));
    EXPECT_TRUE(logged(kGetReplyLine + kNotActivated, LOG_NOTICE));

    setSetting(kGoogleCastTOS, "true");
    setSetting(kGoogleCastUsageReport, "true");
    request(Get(R"("id":"tos",)"));
    EXPECT_EQ(lastReply(),
              R"({"crash_report":true,"device_uuid":"phone-1","id":"status","status":"success",)"
              R"("tos":"activated"})");

    // Only the exact lower-case text counts.
    for (const char* value : {"True", "TRUE", "true ", "1", ""}) {
        SCOPED_TRACE(value);
        setSetting(kGoogleCastTOS, value);
        setSetting(kGoogleCastUsageReport, value);
        request(Get(R"("id":"tos",)"));
        EXPECT_EQ(lastReply(), kNotActivated);
    }
    setSetting(kGoogleCastTOS, "true");
    setSetting(kGoogleCastUsageReport, "false");
    request(Get(R"("id":"tos",)"));
    EXPECT_EQ(lastReply(),
              R"({"crash_report":false,"device_uuid":"phone-1","id":"status","status":"success",)"
              R"("tos":"activated"})");

    // The device id is echoed as text, whatever its JSON type.
    setSetting(kGoogleCastTOS, "");
    setSetting(kGoogleCastUsageReport, "");
    const std::vector<std::pair<std::string, std::string>> uuids = {
        {"42", "42"}, {"-7", "-7"}, {"true", "true"}, {"null", ""}, {R"("a\"b")", R"(a\"b)"}};
    for (const auto& uuid : uuids) {
        SCOPED_TRACE(uuid.first);
        request(Get(R"("id":"tos",)", uuid.first));
        EXPECT_EQ(lastReply(), R"({"crash_report":false,"device_uuid":")" + uuid.second +
                                   R"(","id":"status","status":"success",)"
                                   R"("tos":"not_activated"})");
    }
    EXPECT_EQ(daemonSettingWrites(), Lines());
    EXPECT_TRUE(world().receiver().calls().empty());
}

TEST_F(RequestsTest, GetWithoutIdOrDeviceUuidIsDropped) {
    startLooperAndBus();
    const std::string line =
        "castcontroller: HandleClientGetRequest() insufficient json data in the GET request";
    request(R"({"request_type":"get","device_uuid":"phone-1"})");
    EXPECT_TRUE(logged(line, LOG_INFO));
    request(R"({"request_type":"get","id":"tos"})");
    request(R"({"request_type":"get","Id":"tos","Device_uuid":"phone-1"})");
    EXPECT_EQ(mLog.count(line, LOG_INFO), 3u);
    EXPECT_EQ(replies(), Lines());
}

TEST_F(RequestsTest, HostileMembersNeverStopTheDaemon) {
    startController();
    const std::string set = R"({"request_type":"set","id":"tos","action":"accepted",)";

    // Members that should be text but hold an array or an object: the request is dropped
    // with the parse error line, before anything is asked of the receiver.
    const std::vector<std::string> dropped = {
        R"({"request_type":["get"],"id":"tos","device_uuid":"phone-1"})",
        R"({"request_type":{"get":1},"id":"tos","device_uuid":"phone-1"})",
        Get(R"("id":"tos",)", "[1,2]"),
        Get(R"("id":"tos",)", R"({"a":"b"})"),
        set + R"("device_uuid":"phone-1","user_ip":{}})",
        set + R"("device_uuid":[],"user_ip":"10.0.0.2"})",
        R"({"request_type":"set","id":["tos"],"action":"accepted","device_uuid":"p",)"
        R"("user_ip":"10.0.0.2"})",
        R"({"request_type":"set","id":"crash_report","action":{"x":[]},"device_uuid":"p",)"
        R"("user_ip":"10.0.0.2"})",
        // Nesting past the reader's limit makes jsoncpp throw rather than fail the parse.
        std::string(100000, '['),
        Get(R"("id":"tos","deep":)" + std::string(5000, '[') + ","),
    };
    for (const std::string& payload : dropped) {
        SCOPED_TRACE(payload.substr(0, 80));
        mLog.clear();
        request(payload);
        Lines lines = linesBesidesEntered();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(kInvalid, 0), 0u) << lines[0];
        EXPECT_GT(lines[0].size(), kInvalid.size()) << "the error text is empty";
        EXPECT_EQ(mLog.count(kInvalid, LOG_ERR), 1u);
    }
    EXPECT_EQ(replies(), Lines());
    EXPECT_EQ(castRequests(), Lines());
    EXPECT_TRUE(CastControllerPeer::pending(*mController).empty());

    // A GET never reads its "id", so an odd one is harmless; deep nesting within the
    // reader's limit in a member nobody reads is too.
    request(Get(R"("id":[[{}]],)"));
    request(Get(R"("id":"tos","deep":)" + std::string(900, '[') + std::string(900, ']') + ","));
    EXPECT_EQ(replies(), Lines(2, kNotActivated));

    // Long texts and embedded NULs are echoed whole, escaped by the writer.
    const std::string huge(1 << 20, 'x');
    request(Get(R"("id":"tos",)", "\"" + huge + "\""));
    request(Get(R"("id":"tos",)", R"("a\u0000b")"));
    request(Get(R"("id":"tos",)", "\"\xff\xfe\x01\""));
    Lines all = replies();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[2], R"({"crash_report":false,"device_uuid":")" + huge +
                          R"(","id":"status","status":"success","tos":"not_activated"})");
    EXPECT_NE(all[3].find(R"("device_uuid":"a\u0000b")"), std::string::npos) << all[3];
    EXPECT_NE(all[4].find(R"("id":"status")"), std::string::npos) << all[4];
    EXPECT_TRUE(mLog.has(kGetReplyLine + all[2], LOG_NOTICE));
}
