// An app's GET and SET requests on MID 571 through orvixsim, the receiver answering the SETs,
// and the replies on MID 572 as the app sees them in the bus log.
#include "tests/e2e/E2eLogs.h"
#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {
namespace {

std::string Get(const std::string& uuid) {
    return R"({"request_type":"get","id":"tos","device_uuid":")" + uuid + R"("})";
}

std::string Set(const std::string& id, const std::string& action, const std::string& uuid) {
    return R"({"request_type":"set","id":")" + id + R"(","action":")" + action +
           R"(","device_uuid":")" + uuid + R"(","user_ip":"192.0.2.7"})";
}

std::string SetReply(const std::string& id, const std::string& action, const std::string& uuid,
                     const std::string& status, const std::string& message) {
    return R"({"action":")" + action + R"(","device_uuid":")" + uuid + R"(","id":")" + id +
           R"(","status":")" + status + R"(","status_msg":")" + message + R"("})";
}

std::string GetReply(const std::string& uuid, bool crash, const std::string& tos) {
    return std::string(R"({"crash_report":)") + (crash ? "true" : "false") + R"(,"device_uuid":")" +
           uuid + R"(","id":"status","status":"success","tos":")" + tos + R"("})";
}

class ClientRequestTest : public E2eTest {
protected:
    // The app writes request on MID 571 and waits for a new reply naming uuid on MID 572;
    // returns its payload ("" on time-out).
    std::string ask(const std::string& request, const std::string& uuid) {
        const size_t before = replies();
        json({"bus", "write", "571", request});
        return waitReply(uuid, before);
    }
    // The first reply naming uuid among the daemon's writes on MID 572 from the index from on.
    std::string waitReply(const std::string& uuid, size_t from = 0) {
        std::string payload;
        waitJson({"bus", "log"}, [&](const Json::Value& log) {
            const std::vector<Json::Value> writes = BusWrites(log, 572);
            for (size_t i = from; i < writes.size(); ++i) {
                const std::string text = writes[i]["payload"].asString();
                if (text.find("\"device_uuid\":\"" + uuid + "\"") != std::string::npos) {
                    payload = text;
                    return true;
                }
            }
            return false;
        });
        return payload;
    }
    size_t replies() { return BusWrites(json({"bus", "log"}), 572).size(); }
};

TEST_F(ClientRequestTest, GetAndSetRoundTripsAnsweredByTheReceiver) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // The start-up fetch found nothing accepted.
    EXPECT_EQ(ask(Get("phone-1"), "phone-1"), GetReply("phone-1", false, "not_activated"));

    // Requests the daemon cannot forward are answered at once.
    EXPECT_EQ(
        ask(R"({"request_type":"set","id":"tos","action":"accepted","device_uuid":"p-2"})", ""),
        SetReply("", "", "", "failure", "insufficient data to handle request!"));
    EXPECT_EQ(ask(Set("tos", "later", "phone-2"), "phone-2"),
              SetReply("tos", "later", "phone-2", "failure", "Invalid json data!"));
    json({"cast", "refuse", "AcceptTos"});
    EXPECT_EQ(ask(Set("tos", "accepted", "phone-3"), "phone-3"),
              SetReply("tos", "accepted", "phone-3", "failure", "requestID error!"));
    json({"cast", "refuse", "none"});

    // Accepted: the receiver is asked, with the stored timezone along, and the app waits for
    // the receiver's answer.
    json({"env", "set", "TimeZone", "Europe/Paris"});
    json({"bus", "write", "571", Set("tos", "accepted", "phone-4")});
    ASSERT_TRUE(waitCastOp("SetTimezone"));
    const Json::Value cast = json({"cast", "log"});
    const Json::Value accept = LastOp(cast, "AcceptTos");
    const Json::Value zone = LastOp(cast, "SetTimezone");
    EXPECT_EQ(zone["args"], ArgList({"Europe/Paris"}));
    EXPECT_LT(SeqOf(accept), SeqOf(zone));
    // A later request is answered, so the acceptance has been handled: without a reply.
    const size_t before = replies();
    ask(Get("barrier"), "barrier");
    EXPECT_EQ(replies(), before + 1);
    EXPECT_EQ(json({"env", "get", "GoogleCastTOS"})["value"].asString(), "false");

    // The receiver's answer to the timezone concerns no app; its answer to the acceptance is
    // the app's reply, and the terms count as accepted from now on.
    json({"cast", "respond", std::to_string(zone["result"].asInt()), "0"});
    EXPECT_FALSE(
        waitSyslog("castcontroller: HandleOnCastResponse() Received request id is not in map!!")
            .isNull());
    json({"cast", "respond", std::to_string(accept["result"].asInt()), "0"});
    EXPECT_EQ(waitReply("phone-4"),
              SetReply("tos", "accepted", "phone-4", "success", "Request approved successfully!"));
    EXPECT_EQ(json({"env", "get", "GoogleCastTOS"})["value"].asString(), "true");
    EXPECT_EQ(ask(Get("phone-1"), "phone-1"), GetReply("phone-1", false, "activated"));
    EXPECT_EQ(ask(Set("tos", "accepted", "phone-5"), "phone-5"),
              SetReply("tos", "accepted", "phone-5", "failure", "Configuration already updated!"));
    EXPECT_EQ(WithOp(json({"cast", "log"}), "AcceptTos").size(), 2u);  // the refused one too

    // The usage report, answered by the receiver on its own: any code of 0 or more records the
    // choice, and the reply carries the code's text.
    json({"cast", "auto-respond", "0"});
    EXPECT_EQ(ask(Set("crash_report", "accepted", "phone-6"), "phone-6"),
              SetReply("crash_report", "accepted", "phone-6", "success",
                       "Request approved successfully!"));
    EXPECT_EQ(json({"env", "get", "GoogleCastUsageReport"})["value"].asString(), "true");
    EXPECT_EQ(ask(Get("phone-1"), "phone-1"), GetReply("phone-1", true, "activated"));
    json({"cast", "auto-respond", "4"});
    EXPECT_EQ(ask(Set("crash_report", "declined", "phone-7"), "phone-7"),
              SetReply("crash_report", "declined", "phone-7", "success",
                       "Error:Response for request has not arrived in time"));
    EXPECT_EQ(json({"env", "get", "GoogleCastUsageReport"})["value"].asString(), "false");
    EXPECT_EQ(ArgsOf(json({"cast", "log"}), "SetUsageReportOptIn"),
              (std::vector<Json::Value>{ArgList({true}), ArgList({false})}));
}

}  // namespace
}  // namespace orvix::e2e
