// The receiver's setup service answering what it should not, or never answering. The fetch
// runs once per start, so each answer gets a daemon of its own; each must leave the consent
// settings as they were (or set them from what could be read), and the daemon must go on to
// answer requests.
#include <signal.h>

#include "tests/e2e/RawSockets.h"
#include "tests/e2e/RobustSupport.h"

namespace orvix::e2e {
namespace {

const char* const kStarted =
    "castcontroller: threadLoop() Started cast observer and CLI thread! wait for stop signal";
const char* const kParseError =
    "castcontroller: ReadEurekaInfoCurl() Failed to parse the cast eureka info json object! "
    "error:";

struct Answer {
    const char* label;
    std::string body;
    int status;
    // The lines of the fetch that must be there (prefixes), and the settings afterwards.
    std::vector<std::string> lines;
    const char* tos;
    const char* crash;
};

std::vector<Answer> Answers() {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string pad(1u << 20, 'p');
    const std::string notBool = "castcontroller: ReadEurekaInfoCurl() ";
    return {
        {"an HTML error page",
         "<html><body>Internal error</body></html>",
         500,
         {kParseError + std::string("* Line 1, Column 1")},
         "keep",
         "keep"},
        {"an empty body",
         "",
         204,
         {kParseError + std::string("* Line 1, Column 1")},
         "keep",
         "keep"},
        {"an array", "[true]", 200, {kParseError}, "keep", "keep"},
        {"a string", "\"tos_accepted\"", 200, {kParseError}, "keep", "keep"},
        {"a number", "42", 200, {kParseError}, "keep", "keep"},
        {"arrays 100000 deep", deep, 200, {kParseError}, "keep", "keep"},
        {"cut short", R"({"tos_accepted":true,"opt_in":)", 200, {kParseError}, "keep", "keep"},
        {"bytes", std::string("\x00\xff{\x01\"", 5), 200, {kParseError}, "keep", "keep"},
        {"flags of the wrong kind",
         R"({"tos_accepted":"yes","opt_in":1,"crash":[true]})",
         200,
         {notBool + "tos_accepted is not a boolean! setting left as it is",
          notBool + "crash is not a boolean! setting left as it is"},
         "keep",
         "keep"},
        {"flags that are objects",
         R"({"tos_accepted":{},"opt_in":null,"crash":{"a":1}})",
         200,
         {notBool + "tos_accepted is not a boolean! setting left as it is",
          notBool + "crash is not a boolean! setting left as it is"},
         "keep",
         "keep"},
        {"flags as numbers",
         R"({"tos_accepted":1,"opt_in":"x","crash":0})",
         200,
         {notBool + "ENV ToS value: keep and cURL result:true",
          notBool + "ENV crash value: keep and cURL result:false"},
         "true",
         "false"},
        {"1 MiB of record",
         "{\"pad\":\"" + pad + "\",\"tos_accepted\":true}",
         200,
         {notBool + "ENV ToS value: keep and cURL result:true"},
         "true",
         "false"},
    };
}

class HostileSetupTest : public RobustTest {};

TEST_F(HostileSetupTest, AnswersThatAreNotTheRecordLeaveTheSettingsAlone) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    for (const Answer& a : Answers()) {
        SCOPED_TRACE(a.label);
        batchOk({"eureka body " + BatchWord(a.body), "eureka status " + std::to_string(a.status),
                 "env set GoogleCastTOS keep", "env set GoogleCastUsageReport keep"});
        ASSERT_NO_FATAL_FAILURE(startDaemon());
        ASSERT_TRUE(waitDaemonLines(kStarted, 1));
        for (const std::string& line : a.lines) {
            const auto found = daemonLines(line);
            ASSERT_EQ(found.size(), 1u) << line;
            const bool failure = line.find("Failed") != std::string::npos ||
                                 line.find("not a boolean") != std::string::npos;
            EXPECT_EQ(found[0]["priority"].asInt(), failure ? 3 : 6) << line;
        }
        EXPECT_EQ(ctl({"env", "get", "GoogleCastTOS"})["value"].asString(), a.tos);
        EXPECT_EQ(ctl({"env", "get", "GoogleCastUsageReport"})["value"].asString(), a.crash);
        EXPECT_TRUE(answersGet(std::string("after ") + a.label));
        mDaemon.stop(SIGKILL);
    }
}

// A setup service that takes the request and never answers holds the controller thread in
// the fetch (no time-out is set, by design); the looper, the bus and the cast library's
// callbacks keep working, and a stop signal given meanwhile is not lost.
TEST_F(HostileSetupTest, ASetupServiceThatNeverAnswersHoldsOnlyTheControllerThread) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ctl({"eureka", "hang"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_TRUE(waitCtl({"eureka", "log"}, [](const Json::Value& log) {
        return log.size() == 1 && log[0]["hang"].asBool();
    }));

    EXPECT_TRUE(answersGet("while-held"));
    ctl({"cast", "connect"});
    ctl({"cast", "request-resources"});
    ctl({"bus", "write", "115", "suspend"});
    ASSERT_TRUE(waitCastOps("SetDeviceName", 1));
    ASSERT_TRUE(waitSourceOps("PlayMySource", 1));
    ASSERT_TRUE(waitCastOps("Suspend", 1));
    // Still in the fetch: the controller thread has neither settled nor stopped.
    EXPECT_TRUE(daemonLines(kStarted).empty());
    EXPECT_TRUE(WithOp(ctl({"cast", "log"}), "CastCliExit").empty());
    EXPECT_EQ(ctl({"eureka", "log"}).size(), 1u);

    ctl({"eureka", "body", R"({"tos_accepted":true})"});
    ctl({"eureka", "up"});
    ASSERT_TRUE(waitDaemonLines(kStarted, 1));
    ASSERT_TRUE(waitCastOps("CastCliExit", 1));
    EXPECT_EQ(ctl({"env", "get", "GoogleCastTOS"})["value"].asString(), "true");
    EXPECT_EQ(ctl({"eureka", "log"}).size(), 1u);
    EXPECT_TRUE(answersGet("after-held"));
}

// The simulator's knob itself: a held request gets nothing until the service is up again
// (then the answer of that moment) or down (then the connection is cut).
TEST_F(HostileSetupTest, TheHangKnobHoldsRequestsUntilTheServiceIsUpOrDown) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    const std::string request = "GET /setup/eureka_info HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    EXPECT_TRUE(ctl({"eureka", "hang"})["hang"].asBool());
    RawSocket first;
    ASSERT_TRUE(first.connectLoopback(8008));
    ASSERT_TRUE(first.sendAll(request));
    ASSERT_TRUE(waitCtl({"eureka", "log"}, [](const Json::Value& log) {
        return log.size() == 1 && log[0]["hang"].asBool();
    }));
    EXPECT_EQ(first.readToEnd(300ms), "");
    ctl({"eureka", "body", R"({"late":true})"});
    EXPECT_FALSE(ctl({"eureka", "up"})["hang"].asBool());
    const std::string answer = first.readToEnd();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 ", 0), 0u) << answer;
    EXPECT_EQ(answer.substr(answer.size() - 13), R"({"late":true})");

    ctl({"eureka", "hang"});
    RawSocket second;
    ASSERT_TRUE(second.connectLoopback(8008));
    ASSERT_TRUE(second.sendAll(request));
    ASSERT_TRUE(waitCtl({"eureka", "log"}, [](const Json::Value& log) { return log.size() == 2; }));
    ctl({"eureka", "down"});
    EXPECT_TRUE(second.closedByPeer());
    RawSocket third;
    EXPECT_FALSE(third.connectLoopback(8008));
}

}  // namespace
}  // namespace orvix::e2e
