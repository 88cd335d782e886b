// The daemon's life as a whole: refusing to start, starting, stopping on a suspend alert, and
// living through the simulator going away and coming back.
#include <signal.h>

#include <algorithm>

#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {
namespace {

const std::vector<int> kMids{90, 571, 150, 115, 37, 572, 573};
const char* const kGetRequest = R"({"request_type":"get","id":"tos","device_uuid":"phone-1"})";

bool ListsDaemonMids(const Json::Value& listeners) {
    for (const Json::Value& l : listeners) {
        Json::Value mids(Json::arrayValue);
        for (int mid : kMids) mids.append(mid);
        if (l["mids"] == mids) return true;
    }
    return false;
}

// A client that comes back registers everything it still wants in one go, in its own order.
bool ListsDaemonMidsInAnyOrder(const Json::Value& listeners) {
    std::vector<int> want = kMids;
    std::sort(want.begin(), want.end());
    for (const Json::Value& l : listeners) {
        std::vector<int> mids;
        for (const Json::Value& mid : l["mids"]) mids.push_back(mid.asInt());
        std::sort(mids.begin(), mids.end());
        if (mids == want) return true;
    }
    return false;
}

class DaemonTest : public E2eTest {};

TEST_F(DaemonTest, FeatureSwitchedOffExitsWith255AndLogsWhy) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    json({"env", "set", "FeatureGoogleCast", "false"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    const pid_t pid = mDaemon.pid();
    ASSERT_TRUE(mDaemon.waitExit(5s));
    EXPECT_EQ(mDaemon.exitCode(), 255);

    const Json::Value line =
        waitSyslog("orvixcast: main() Orvixcast feature is disabled! ENV GoogleCast:false");
    ASSERT_FALSE(line.isNull());
    EXPECT_EQ(line["ident"].asString(), "orvixcast");
    EXPECT_EQ(line["facility"].asInt(), 17);  // LOG_LOCAL1
    EXPECT_EQ(line["priority"].asInt(), 3);   // LOG_ERR
    EXPECT_EQ(line["pid"].asInt(), pid);
    // Nothing was started: no bus client, no cast control.
    EXPECT_EQ(json({"bus", "listeners"}).size(), 0u);
    EXPECT_EQ(json({"cast", "log"}).size(), 0u);
}

TEST_F(DaemonTest, StartRegistersTheMidsAndCreatesTheControlOnceTheSocketAppears) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    json({"cast", "socket", "down"});
    EXPECT_FALSE(access("/tmp/cast-control", F_OK) == 0);
    ASSERT_NO_FATAL_FAILURE(startDaemon());

    ASSERT_TRUE(waitJson({"bus", "listeners"}, ListsDaemonMids));
    // The thread id in the line varies: match the line by its start.
    Json::Value waitLine;
    ASSERT_TRUE(waitJson({"syslog"}, [&](const Json::Value& log) {
        for (const Json::Value& e : log) {
            if (e["text"].asString().rfind("castcontroller: WaitForCastConnection() checking for "
                                           "castcontrolsocket @ ->/tmp/cast-control, TID:",
                                           0) == 0) {
                waitLine = e;
                return true;
            }
        }
        return false;
    }));
    EXPECT_EQ(waitLine["priority"].asInt(), 6);
    // Waiting for the socket: no control yet.
    EXPECT_TRUE(WithOp(json({"cast", "log"}), "Create").empty());

    json({"cast", "socket", "up"});
    ASSERT_TRUE(waitCastOp("CastCliInit"));
    const Json::Value log = json({"cast", "log"});
    const auto creates = WithOp(log, "Create");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0]["args"][0].asString(), "/tmp/cast-control");
    EXPECT_TRUE(creates[0]["result"].asBool());
    EXPECT_GT(creates[0]["seq"].asUInt64(), waitLine["seq"].asUInt64());
    EXPECT_GT(WithOp(log, "CastCliInit")[0]["seq"].asUInt64(), creates[0]["seq"].asUInt64());
    EXPECT_TRUE(mDaemon.running());
}

TEST_F(DaemonTest, SuspendAlertOnMid115SuspendsWithReason3ThenExitsTheCastApi) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    json({"bus", "write", "115", "suspend"});
    ASSERT_TRUE(waitCastOp("CastCliExit"));
    const Json::Value log = json({"cast", "log"});
    const auto suspends = WithOp(log, "Suspend");
    ASSERT_EQ(suspends.size(), 1u);
    ASSERT_EQ(suspends[0]["args"].size(), 1u);
    EXPECT_EQ(suspends[0]["args"][0].asInt(), 3);
    EXPECT_LT(suspends[0]["seq"].asUInt64(), WithOp(log, "CastCliExit")[0]["seq"].asUInt64());
    EXPECT_FALSE(
        waitSyslog("castcontroller: threadLoop() All resources cleaned up! destroying bye!")
            .isNull());
    // Only the controller thread ends: the process stays.
    EXPECT_TRUE(mDaemon.running());
}

// What the daemon does while the simulator is away: its clients lose their connections,
// retry every 500 ms and, once the simulator is back, register the MIDs, ask for source
// notifications and make the cast control again; it never dies.
TEST_F(DaemonTest, SurvivesTheSimulatorBeingKilledOrStoppedAndStartedAgain) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(waitJson({"bus", "listeners"}, ListsDaemonMids));
    // Media playing, so the daemon's play-position reporter writes every second throughout.
    json({"cast", "request-resources"});
    json({"cast", "connect"});
    json({"cast", "media", "--state", "2", "--time", "5"});
    ASSERT_TRUE(waitJson({"bus", "read", "49"},
                         [](const Json::Value& r) { return !r["payload"].asString().empty(); }));

    for (int sig : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(sig == SIGKILL ? "killed" : "stopped");
        stopSim(sig);
        // Away for longer than a reconnect round and a play-position tick.
        ASSERT_FALSE(WaitFor([&] { return !mDaemon.running(); }, 1500ms));
        ASSERT_NO_FATAL_FAILURE(startSim());

        ASSERT_TRUE(waitJson({"bus", "listeners"}, ListsDaemonMidsInAnyOrder));
        ASSERT_TRUE(waitCastOp("Create"));
        // The connections are back in full: a request gets its reply, the reporter writes
        // again, and the syslog lines reach the new /dev/log.
        json({"bus", "write", "571", kGetRequest});
        ASSERT_TRUE(waitJson({"bus", "read", "572"}, [](const Json::Value& r) {
            return r["payload"].asString().find("\"device_uuid\":\"phone-1\"") != std::string::npos;
        }));
        ASSERT_TRUE(waitJson({"bus", "log"}, [](const Json::Value& log) {
            for (const Json::Value& w : log) {
                if (w["mid"].asInt() == 49 && w["from"].asString() == "daemon") return true;
            }
            return false;
        }));
        EXPECT_FALSE(waitSyslog("castcontroller: HandleClientGetRequest() Entered").isNull());
        // The source listener came back too.
        EXPECT_EQ(cli({"source", "play-control", "PAUSE"}).status, 0);
        ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& log) {
            const auto sent = WithOp(log, "SendPlayCommand");
            return !sent.empty() && sent.back()["args"][0].asInt() == 1;
        }));
        // The controller thread does not start over.
        EXPECT_TRUE(WithOp(json({"cast", "log"}), "CastCliInit").empty());
        EXPECT_TRUE(mDaemon.running());
    }
}

}  // namespace
}  // namespace orvix::e2e
