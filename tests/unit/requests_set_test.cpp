// Client SET requests: immediate failures, forwarding to the receiver, the pending table and
// the timezone sent along with the terms of service.
#include "tests/unit/RequestsTestSupport.h"

using namespace orvix::test;

namespace {

const std::string kSetReplyLine =
    "castcontroller: HandleClientResponsejson() response for cast client SET request is ";

// The line of a reply given at once: there is no request id.
std::string Immediate(int code) {
    return At(LOG_INFO, "castcontroller: HandleClientResponsejson() Entered, error:" +
                            std::to_string(code) + " request id:-2147483648");
}

std::string TosAndZone(const std::string& zone, int id) {
    return At(LOG_INFO, "castcontroller: HandleClientSetRequest() Accept tos and Timezone:" + zone +
                            " request sent to cast tos                            timezone id:" +
                            std::to_string(id));
}

}  // namespace

TEST_F(RequestsTest, SetsThatCannotBeForwardedAreAnsweredAtOnce) {
    // Without a cast control, before any member is looked at.
    startLooperAndBus();
    request(R"({"request_type":"set"})");
    const std::string unreachable =
        SetReply("failure", "Cast server unreachable try after 5 secs!");
    EXPECT_EQ(newReplies(), Lines{unreachable});
    EXPECT_TRUE(logged(Immediate(-5)));
    EXPECT_TRUE(logged(At(LOG_NOTICE, kSetReplyLine + unreachable)));
    EXPECT_TRUE(world().receiver().calls().empty());

    ASSERT_TRUE(mController->Init());
    setSetting(kTimeZone, "Europe/Berlin");
    const std::string missing = "insufficient data to handle request!";
    const std::string invalid = "Invalid json data!";
    const std::string refused = "requestID error!";
    struct Case {
        const char* tos;     // the stored terms of service
        const char* refuse;  // what the receiver refuses
        std::string payload;
        int code;
        std::string reply;
    };
    const std::vector<Case> cases = {
        {"", "none", R"({"request_type":"set","id":"tos","action":"accepted","device_uuid":"p"})",
         -3, SetReply("failure", missing)},
        {"", "none", R"({"request_type":"set","action":"accepted","device_uuid":"p","user_ip":""})",
         -3, SetReply("failure", missing)},
        {"", "none", Set("tos", "declined"), -6,
         SetReply("failure", invalid, "tos", "declined", "phone-1")},
        {"", "none", Set("TOS", "accepted"), -6,
         SetReply("failure", invalid, "TOS", "accepted", "phone-1")},
        // Bytes past ASCII, valid UTF-8 or not, are escaped alike whether plain char is
        // signed (x86) or not (ARM).
        {"", "none",
         Set("tos", "declined",
             "K\xc3\xbc\xff"
             "che\x7f"),
         -6, SetReply("failure", invalid, "tos", "declined", "K\\u00fc\\ufffdche\x7f")},
        {"true", "none", Set("tos", "accepted"), -4,
         SetReply("failure", "Configuration already updated!", "tos", "accepted", "phone-1")},
        {"True", "AcceptTos", Set("tos", "accepted"), -1,
         SetReply("failure", refused, "tos", "accepted", "phone-1")},
        {"", "SetUsageReportOptIn", Set("crash_report", "declined"), -1,
         SetReply("failure", refused, "crash_report", "declined", "phone-1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        setSetting(kGoogleCastTOS, c.tos);
        world().receiver().refuse(c.refuse);
        mLog.clear();
        request(c.payload);
        EXPECT_EQ(newReplies(), Lines{c.reply});
        EXPECT_TRUE(logged(Immediate(c.code)));
    }
    // Only the refused ones reached the receiver, and no timezone went along.
    EXPECT_EQ(castRequests(), (Lines{"AcceptTos[]=-1", "SetUsageReportOptIn[false]=-1"}));
    EXPECT_EQ(pending(), Lines());
    EXPECT_EQ(newSettingWrites(), Lines());
}

TEST_F(RequestsTest, ForwardedSetsWaitUnderTheirIdsAndTheTimezoneGoesAlongUntilTaken) {
    startController();
    request(Set("tos", "accepted"));  // no timezone stored: none goes along
    setSetting(kTimeZone, "Europe/Berlin");
    world().receiver().refuse("SetTimezone");
    request(Set("tos", "accepted", "tablet"));  // refused: the next acceptance tries again
    world().receiver().refuse("none");
    request(Set("tos", "accepted", "tv"));
    request(Set("tos", "accepted", "radio"));
    // With the timezone request's id back at -1, the next acceptance sends the zone again.
    CastControllerPeer::setTimezoneRequestId(*mController, -1);
    setSetting(kTimeZone, "Asia/Tokyo");
    request(Set("tos", "accepted", "watch"));
    request(Set("crash_report", "accepted", "speaker"));
    request(Set("crash_report", "ACCEPTED", "tablet"));
    EXPECT_EQ(castRequests(),
              (Lines{"AcceptTos[]=1", "AcceptTos[]=2", R"(SetTimezone["Europe/Berlin"]=-1)",
                     "AcceptTos[]=3", R"(SetTimezone["Europe/Berlin"]=4)", "AcceptTos[]=5",
                     "AcceptTos[]=6", R"(SetTimezone["Asia/Tokyo"]=7)",
                     "SetUsageReportOptIn[true]=8", "SetUsageReportOptIn[false]=9"}));
    EXPECT_EQ(pending(),
              (Lines{"1: tos accepted phone-1 10.0.0.2", "2: tos accepted tablet 10.0.0.2",
                     "3: tos accepted tv 10.0.0.2", "5: tos accepted radio 10.0.0.2",
                     "6: tos accepted watch 10.0.0.2", "8: crash_report accepted speaker 10.0.0.2",
                     "9: crash_report ACCEPTED tablet 10.0.0.2"}));
    EXPECT_EQ(newReplies(), Lines());
    EXPECT_TRUE(logged(TosAndZone("Europe/Berlin", -1)));
    EXPECT_TRUE(logged(TosAndZone("Asia/Tokyo", 7)));
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Asia/Tokyo");
}
