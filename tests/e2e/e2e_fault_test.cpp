// The daemon's services failing under it: the simulator killed and started again at several
// points of the daemon's life, the receiver refusing everything, the UI manager away. The
// daemon never dies; what it does on each side is what docs/RELIABILITY.md describes.
#include <signal.h>

#include "tests/e2e/RobustSupport.h"

namespace orvix::e2e {
namespace {

const char* const kStarted =
    "castcontroller: threadLoop() Started cast observer and CLI thread! wait for stop signal";

bool HasDaemonMids(const Json::Value& listeners) {
    for (const Json::Value& l : listeners) {
        if (l["mids"].size() == 7u) return true;
    }
    return false;
}

class FaultTest : public RobustTest {
protected:
    // The simulator goes away for longer than a reconnect round and comes back fresh (its
    // settings file stays); the daemon must not notice more than lost connections.
    void restartSim(int sig) {
        stopSim(sig);
        ASSERT_FALSE(WaitFor([&] { return !mDaemon.running(); }, 1500ms));
        ASSERT_NO_FATAL_FAILURE(startSim());
    }

    std::string lastReply() {
        const std::vector<std::string> replies = daemonReplies();
        return replies.empty() ? "" : replies.back();
    }
};

// Bus side: both bus clients reconnect and the controller's registers its MIDs again.
// Source side: the listener is announced again, so notifications arrive. Receiver side: the
// control is made again on the new connection; the daemon saw no disconnect, so its session
// (connected, version known, a SET waiting for its answer) carries on as it was.
TEST_F(FaultTest, EverySideComesBackAfterTheSimulatorIsKilled) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ctl({"cast", "connect"});
    ctl({"cast", "status", "--name", "Before", "--build", "1.0"});
    // The source-switch service learns of the daemon's listener from its first call.
    ctl({"cast", "request-resources"});
    ASSERT_TRUE(waitSourceOps("PlayMySource", 1));
    ctl({"bus", "write", "571",
         R"({"request_type":"set","id":"crash_report","action":"accepted",)"
         R"("device_uuid":"pending-1","user_ip":"10.0.0.2"})"});
    ASSERT_TRUE(waitCastOps("SetUsageReportOptIn", 1));
    const int pendingId = WithOp(ctl({"cast", "log"}), "SetUsageReportOptIn")[0]["result"].asInt();
    ASSERT_GT(pendingId, 0);

    ASSERT_NO_FATAL_FAILURE(restartSim(SIGKILL));
    ASSERT_TRUE(waitCtl({"bus", "listeners"}, HasDaemonMids));
    EXPECT_TRUE(answersGet("after-restart"));
    ASSERT_TRUE(waitCastOps("Create", 1));
    EXPECT_TRUE(WithOp(ctl({"cast", "log"}), "CastCliInit").empty());

    // The device-service connection comes back on its own time; then the listener is known.
    ASSERT_TRUE(WaitFor([&] {
        Json::Value delivered;
        std::string error;
        return ctlResult({"source", "play-control", "PAUSE"}, &delivered, &error);
    }));
    ASSERT_TRUE(waitCastOps("SendPlayCommand", 1));
    EXPECT_EQ(WithOp(ctl({"cast", "log"}), "SendPlayCommand")[0]["args"][0].asInt(), 1);

    // Still connected as far as the daemon knows: a status is taken without a new connect.
    ctl({"cast", "status", "--name", "After"});
    EXPECT_TRUE(waitCtl({"bus", "read", "90"},
                        [](const Json::Value& r) { return r["payload"].asString() == "After"; }));
    // The request sent before the kill is still waiting; its answer completes it.
    ctl({"cast", "respond", std::to_string(pendingId), "0"});
    ASSERT_TRUE(WaitFor([&] { return lastReply().find("pending-1") != std::string::npos; }));
    EXPECT_NE(lastReply().find("\"status\":\"success\""), std::string::npos) << lastReply();
    EXPECT_EQ(ctl({"env", "get", "GoogleCastUsageReport"})["value"].asString(), "true");
    EXPECT_TRUE(mDaemon.running());
}

// Started with no simulator at all, the daemon waits for the bus (every 3 s) and then goes
// through its whole start-up.
TEST_F(FaultTest, StartedBeforeTheSimulatorItWaitsAndThenStarts) {
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_FALSE(WaitFor([&] { return !mDaemon.running(); }, 1s));
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_TRUE(waitDaemonLines(kStarted, 1, 10s));
    ASSERT_TRUE(waitCtl({"bus", "listeners"}, HasDaemonMids));
    EXPECT_EQ(WithOp(ctl({"cast", "log"}), "CastCliInit").size(), 1u);
    EXPECT_TRUE(answersGet("late-bus"));
}

// Killed while the setup service holds the fetch: the transfer fails, the fetch tries again
// every half second, and the new simulator's answer lets the controller thread settle.
TEST_F(FaultTest, KilledWhileTheSetupServiceHoldsTheFetch) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ctl({"eureka", "hang"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_TRUE(waitCtl({"eureka", "log"}, [](const Json::Value& log) { return !log.empty(); }));
    ASSERT_NO_FATAL_FAILURE(restartSim(SIGKILL));
    // The new simulator answers its default record, "{}": both settings "false".
    ASSERT_TRUE(waitDaemonLines(kStarted, 1));
    EXPECT_EQ(ctl({"eureka", "log"}).size(), 1u);
    EXPECT_EQ(ctl({"env", "get", "GoogleCastTOS"})["value"].asString(), "false");
    EXPECT_EQ(ctl({"env", "get", "GoogleCastUsageReport"})["value"].asString(), "false");
    EXPECT_TRUE(answersGet("after-fetch"));
}

// A receiver that refuses to make the control ends the controller thread for good (the
// creation is not tried again); requests are still answered, a SET with "unreachable".
TEST_F(FaultTest, AReceiverThatRefusesTheControlLeavesRequestsAnswered) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ctl({"cast", "refuse", "all"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_TRUE(
        waitDaemonLines("castcontroller: Init() Failed to construct castcontrol, observer "
                        "and SS listerner instances!",
                        1));
    EXPECT_TRUE(answersGet("no-control"));
    ctl({"bus", "write", "571",
         R"({"request_type":"set","id":"tos","action":"accepted","device_uuid":"d","user_ip":"i"})"});
    ASSERT_TRUE(WaitFor([&] { return lastReply().find("unreachable") != std::string::npos; }));
    EXPECT_EQ(lastReply(), R"({"action":"","device_uuid":"","id":"","status":"failure",)"
                           R"("status_msg":"Cast server unreachable try after 5 secs!"})");
    ctl({"cast", "refuse", "none"});
    ctl({"bus", "write", "90", "Kitchen"});
    EXPECT_TRUE(answersGet("still-no-control"));
    const Json::Value log = ctl({"cast", "log"});
    EXPECT_EQ(WithOp(log, "Create").size(), 1u);
    EXPECT_TRUE(WithOp(log, "SetDeviceName").empty());
    EXPECT_TRUE(daemonLines(kStarted).empty());
    EXPECT_TRUE(mDaemon.running());
}

// A receiver that refuses every operation once the control exists: SETs are answered with
// the request-id error, play commands are logged as failed, a connection spends six seconds
// on the looper trying to give the receiver its name (requests wait, none is lost), and the
// multi-room delay is sent again every second until it is taken.
TEST_F(FaultTest, AReceiverThatRefusesEveryOperation) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ctl({"cast", "request-resources"});
    ASSERT_TRUE(waitSourceOps("PlayMySource", 1));
    ctl({"cast", "refuse", "all"});
    batchOk({"bus write 571 " + BatchWord(R"({"request_type":"set","id":"tos","action":"accepted",)"
                                          R"("device_uuid":"refused","user_ip":"i"})"),
             "source play-control PAUSE", "cast connect"});
    // Once the looper is in the connection's name attempts, a request has to wait for them.
    ASSERT_TRUE(waitCastOps("SetDeviceName", 1));
    ctl({"bus", "write", "571", GetRequest("waited")});
    ASSERT_TRUE(waitCastOps("SetDeviceName", 6, 10s));
    ASSERT_TRUE(waitReply("waited"));
    const std::vector<std::string> replies = daemonReplies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_NE(replies[0].find(R"("device_uuid":"refused")"), std::string::npos);
    EXPECT_NE(replies[0].find(R"("status_msg":"requestID error!")"), std::string::npos);
    const auto summary = daemonLines(
        "castcontroller: HandleOnControlConnected() error ID:-1, "
        "retries:6, cast name changed:NO");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0]["priority"].asInt(), 5);
    EXPECT_EQ(daemonLines("castcontroller: HandleOnPlaycontrolEvent() Failed to Notify cast "
                          "server, Event PAUSE resultID -1")
                  .size(),
              1u);
    // The looper spent the six attempts before the GET: its reply is written after them.
    const Json::Value calls = ctl({"cast", "log"});
    const auto names = WithOp(calls, "SetDeviceName");
    ASSERT_EQ(names.size(), 6u);
    for (const Json::Value& call : names) EXPECT_EQ(call["result"].asInt(), -1);
    uint64_t replySeq = 0;
    for (const Json::Value& w : ctl({"bus", "log"})) {
        if (w["payload"].asString().find("waited") != std::string::npos &&
            w["from"].asString() == "daemon") {
            replySeq = w["seq"].asUInt64();
        }
    }
    EXPECT_GT(replySeq, names.back()["seq"].asUInt64());

    ASSERT_TRUE(waitCastOps("SetMultizoneDelay", 2, 5s));
    ctl({"cast", "refuse", "none"});
    ASSERT_TRUE(waitCtl({"cast", "log"}, [](const Json::Value& log) {
        const auto delays = WithOp(log, "SetMultizoneDelay");
        return !delays.empty() && delays.back()["result"].asInt() > 0;
    }));
    EXPECT_TRUE(answersGet("after-refusals"));
}

// With the UI manager away nothing is shown and the session goes on. As designed, the track
// that could not be shown counts as shown: it is not sent again when the UI comes back, only
// the next change is.
TEST_F(FaultTest, TheUiManagerAwayCostsOnlyTheDisplay) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ctl({"ui", "down"});
    const std::string media = "cast media --state 3 --time 0 --stream 1 --duration 100 --title ";
    batchOk({"cast connect", "cast request-resources", media + "Down"});
    ASSERT_TRUE(waitDaemonLines("castcontroller: updateMetadata() can not update metadata", 1));
    const auto failed = daemonLines(
        "castcontroller: updateMetadata() can not update metadata to "
        "UIManager!");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0]["priority"].asInt(), 3);

    ctl({"ui", "up"});
    batchOk({media + "Down", media + "Up"});
    ASSERT_TRUE(waitCtl({"ui", "log"}, [](const Json::Value& log) { return !log.empty(); }));
    Json::Value ui = ctl({"ui", "log"});
    ASSERT_EQ(ui.size(), 1u);
    EXPECT_EQ(ui[0]["fields"]["trackName"].asString(), "Up");

    // Giving the speaker back while the UI is away skips the display's release only.
    ctl({"ui", "down"});
    ctl({"cast", "release-resources"});
    ASSERT_TRUE(waitSourceOps("DisconnectMySource", 1));
    ctl({"ui", "up"});
    EXPECT_EQ(ctl({"ui", "log"}).size(), 1u);
    EXPECT_TRUE(answersGet("after-ui"));
}

}  // namespace
}  // namespace orvix::e2e
