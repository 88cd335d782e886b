// Client SET requests: immediate failures, forwarding to the receiver, the pending table and
// the timezone sent along with the terms of service.
#include <string>
#include <vector>

#include "tests/unit/RequestsTestSupport.h"

using orvix::test::RequestsTest;
using Lines = std::vector<std::string>;

namespace {

const std::string kSetEntered = "castcontroller: HandleClientSetRequest() Entered";
const std::string kInsufficient =
    "castcontroller: HandleClientSetRequest() insufficient data to handle SET request";
const std::string kImmediate =
    "castcontroller: HandleClientResponsejson() Entered, error:%d request id:-2147483648";
const std::string kTosAndZone =
    "castcontroller: HandleClientSetRequest() Accept tos and Timezone:%s request sent to cast "
    "tos                            timezone id:%d";

std::string Set(const std::string& id, const std::string& action,
                const std::string& rest = R"("device_uuid":"phone-1","user_ip":"10.0.0.2")") {
    return R"({"request_type":"set","id":)" + id + R"(,"action":)" + action + "," + rest + "}";
}

std::string Failure(const std::string& msg, const std::string& id = "",
                    const std::string& action = "", const std::string& uuid = "") {
    return R"({"action":")" + action + R"(","device_uuid":")" + uuid + R"(","id":")" + id +
           R"(","status":"failure","status_msg":")" + msg + R"("})";
}

std::string Format(const std::string& format, const std::string& text, int value) {
    std::string out = format;
    out.replace(out.find("%s"), 2, text);
    out.replace(out.find("%d"), 2, std::to_string(value));
    return out;
}

std::string Format(const std::string& format, int value) {
    std::string out = format;
    return out.replace(out.find("%d"), 2, std::to_string(value));
}

}  // namespace

TEST_F(RequestsTest, WithoutCastControlEverySetIsUnreachable) {
    startLooperAndBus();
    const std::string unreachable = Failure("Cast server unreachable try after 5 secs!");

    // Tested before the members: a bare request, a complete one and a malformed one alike.
    request(R"({"request_type":"set"})");
    EXPECT_FALSE(mLog.has(kInsufficient));
    request(Set(R"("tos")", R"("accepted")"));
    request(Set(R"(["tos"])", R"("accepted")"));
    EXPECT_EQ(replies(), Lines(3, unreachable));

    EXPECT_EQ(mLog.count(Format(kImmediate, -5), LOG_INFO), 3u);
    EXPECT_LT(mLog.indexOf(kSetEntered), mLog.indexOf(Format(kImmediate, -5)));
    EXPECT_TRUE(
        logged("castcontroller: HandleClientResponsejson() response for cast client SET "
               "request is " +
                   unreachable,
               LOG_NOTICE));
    EXPECT_TRUE(world().receiver().calls().empty());
}

TEST_F(RequestsTest, SetFailsAtOnceWithItsCodeAndMembers) {
    startController();
    setSetting(kTimeZone, "Europe/Berlin");

    // Any required member missing: -3 with nothing echoed, user_ip included though it is
    // never sent back.
    const std::string uuid = R"("device_uuid":"phone-1")";
    const std::string ip = R"("user_ip":"10.0.0.2")";
    for (const std::string& payload :
         {R"({"request_type":"set","action":"accepted",)" + uuid + "," + ip + "}",
          R"({"request_type":"set","id":"tos",)" + uuid + "," + ip + "}",
          Set(R"("tos")", R"("accepted")", ip), Set(R"("tos")", R"("accepted")", uuid)}) {
        SCOPED_TRACE(payload);
        mLog.clear();
        request(payload);
        EXPECT_TRUE(logged(kInsufficient, LOG_INFO));
        EXPECT_TRUE(logged(Format(kImmediate, -3), LOG_INFO));
        EXPECT_EQ(lastReply(), Failure("insufficient data to handle request!"));
    }
    EXPECT_EQ(replies().size(), 4u);

    // Pairs this daemon does not handle: -6 with the request's members.
    const std::string invalid = "Invalid json data!";
    request(Set(R"("tos")", R"("declined")"));
    EXPECT_EQ(lastReply(), Failure(invalid, "tos", "declined", "phone-1"));
    request(Set(R"("tos")", R"("Accepted")"));
    EXPECT_EQ(lastReply(), Failure(invalid, "tos", "Accepted", "phone-1"));
    request(Set(R"("TOS")", R"("accepted")"));
    EXPECT_EQ(lastReply(), Failure(invalid, "TOS", "accepted", "phone-1"));
    request(Set(R"("Crash_report")", R"("accepted")"));
    EXPECT_EQ(lastReply(), Failure(invalid, "Crash_report", "accepted", "phone-1"));
    request(Set("5", "null"));
    EXPECT_EQ(lastReply(), Failure(invalid, "5", "", "phone-1"));
    EXPECT_EQ(mLog.count(Format(kImmediate, -6), LOG_INFO), 5u);
    EXPECT_EQ(castRequests(), Lines());

    // Terms already accepted: -4, and the receiver is not asked.
    setSetting(kGoogleCastTOS, "true");
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(lastReply(), Failure("Configuration already updated!", "tos", "accepted", "phone-1"));
    EXPECT_EQ(castRequests(), Lines());

    // The receiver refuses: -1, no timezone goes along and nothing is kept.
    setSetting(kGoogleCastTOS, "True");
    world().receiver().refuse("AcceptTos");
    world().receiver().refuse("SetUsageReportOptIn");
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(lastReply(), Failure("requestID error!", "tos", "accepted", "phone-1"));
    request(Set(R"("crash_report")", R"("declined")"));
    EXPECT_EQ(lastReply(), Failure("requestID error!", "crash_report", "declined", "phone-1"));
    EXPECT_EQ(castRequests(), (Lines{"AcceptTos[]=-1", "SetUsageReportOptIn[false]=-1"}));
    EXPECT_EQ(mLog.count(Format(kImmediate, -1), LOG_INFO), 2u);
    EXPECT_FALSE(mLog.has("usage report request sent"));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), -1);

    EXPECT_EQ(replies().size(), 12u);
    EXPECT_TRUE(CastControllerPeer::pending(*mController).empty());
    EXPECT_EQ(daemonSettingWrites(), Lines());
}

TEST_F(RequestsTest, UsageReportIsForwardedAndKeptUntilItsResponse) {
    startController();
    request(Set(R"("crash_report")", R"("accepted")"));
    EXPECT_TRUE(logged(
        "castcontroller: HandleClientSetRequest() usage report request sent to cast reqest id:1",
        LOG_INFO));
    // Anything but exactly "accepted" is a refusal.
    request(Set(R"("crash_report")", R"("declined")", R"("device_uuid":7,"user_ip":null)"));
    request(Set(R"("crash_report")", R"("ACCEPTED")"));
    request(Set(R"("crash_report")", "true"));
    EXPECT_EQ(castRequests(),
              (Lines{"SetUsageReportOptIn[true]=1", "SetUsageReportOptIn[false]=2",
                     "SetUsageReportOptIn[false]=3", "SetUsageReportOptIn[false]=4"}));
    EXPECT_EQ(replies(), Lines());
    EXPECT_EQ(pendingIds(), (std::vector<int32_t>{1, 2, 3, 4}));

    ClientSetRequest first = pendingAt(1);
    EXPECT_EQ(first.id, "crash_report");
    EXPECT_EQ(first.deviceUuid, "phone-1");
    EXPECT_EQ(first.userIp, "10.0.0.2");
    EXPECT_EQ(first.action, "accepted");
    ClientSetRequest second = pendingAt(2);
    EXPECT_EQ(second.deviceUuid, "7");
    EXPECT_EQ(second.userIp, "");
    EXPECT_EQ(second.action, "declined");

    // A receiver that starts its ids over replaces the older entry under the same id.
    world().receiver().reset();
    request(Set(R"("crash_report")", R"("refused")", R"("device_uuid":"tablet","user_ip":"")"));
    EXPECT_EQ(pendingIds(), (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(pendingAt(1).deviceUuid, "tablet");
    EXPECT_EQ(pendingAt(1).action, "refused");
}

TEST_F(RequestsTest, TosAcceptanceTakesTheTimezoneAlongUntilOneIsTaken) {
    startController();
    setSetting(kTimeZone, "Europe/Berlin");
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(castRequests(), (Lines{"AcceptTos[]=1", R"(SetTimezone["Europe/Berlin"]=2)"}));
    EXPECT_TRUE(logged(Format(kTosAndZone, "Europe/Berlin", 2), LOG_INFO));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), 2);
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Europe/Berlin");

    // A second acceptance before any answer is forwarded and kept too, without a timezone.
    setSetting(kTimeZone, "Asia/Tokyo");
    request(Set(R"("tos")", R"("accepted")", R"("device_uuid":"tablet","user_ip":"10.0.0.3")"));
    EXPECT_EQ(castRequests().size(), 3u);
    EXPECT_EQ(lastCastRequest(), "AcceptTos[]=3");
    EXPECT_EQ(mLog.count("Accept tos and Timezone"), 1u);
    // The timezone's id is no client's.
    EXPECT_EQ(pendingIds(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(pendingAt(1).deviceUuid, "phone-1");
    EXPECT_EQ(pendingAt(3).deviceUuid, "tablet");
    EXPECT_EQ(pendingAt(3).userIp, "10.0.0.3");
    EXPECT_EQ(replies(), Lines());
}

TEST_F(RequestsTest, TimezoneGoesAlongOnlyWhenStoredAndNotYetTaken) {
    startController();
    CastControllerPeer::setTimezone(*mController, "Old/Zone");

    // Nothing stored: no timezone and no word about it.
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(castRequests(), Lines{"AcceptTos[]=1"});
    EXPECT_FALSE(mLog.has("Accept tos and Timezone"));

    // A refused timezone is logged with its -1 and changes nothing; the acceptance goes on.
    setSetting(kTimeZone, "Europe/Berlin");
    world().receiver().refuse("SetTimezone");
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_TRUE(logged(Format(kTosAndZone, "Europe/Berlin", -1), LOG_INFO));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), -1);
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Old/Zone");
    EXPECT_EQ(pendingIds(), (std::vector<int32_t>{1, 2}));

    // So the next acceptance tries again.
    world().receiver().refuse("none");
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(castRequests(),
              (Lines{"AcceptTos[]=1", "AcceptTos[]=2", R"(SetTimezone["Europe/Berlin"]=-1)",
                     "AcceptTos[]=3", R"(SetTimezone["Europe/Berlin"]=4)"}));
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Europe/Berlin");

    // A timezone taken elsewhere during this run counts as well.
    CastControllerPeer::setTimezoneRequestId(*mController, -1);
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(lastCastRequest(), R"(SetTimezone["Europe/Berlin"]=6)");
    CastControllerPeer::setTimezoneRequestId(*mController, 40);
    request(Set(R"("tos")", R"("accepted")"));
    EXPECT_EQ(lastCastRequest(), "AcceptTos[]=7");
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), 40);
    EXPECT_EQ(pendingIds(), (std::vector<int32_t>{1, 2, 3, 5, 7}));
}
