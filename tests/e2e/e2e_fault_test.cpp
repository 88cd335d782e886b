// The daemon's services failing under it: the simulator killed and started again, the receiver
// refusing everything, the UI manager away, the setup service hanging. The daemon never ends
// (the fixture checks) and answers requests afterwards.
#include <unistd.h>

#include "tests/e2e/E2e.h"

namespace orvix::e2e {
namespace {

class FaultTest : public E2eTest {};

// Device side: the bus client registers its MIDs again, in their first order, and the listener
// is announced again. Receiver side: the control is made again. The daemon saw no disconnect,
// so its session (connected, a SET waiting for its answer) carries on.
TEST_F(FaultTest, EverySideComesBackAfterTheSimulatorIsKilled) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    run({"cast connect", "cast status --name Before --build 1.0", "cast request-resources",
         R"(bus write 571 {"request_type":"set","id":"crash_report","action":"accepted",)"
         R"("device_uuid":"pending","user_ip":"10.0.0.2"})"});
    ASSERT_TRUE(waitOps("cast", "SetUsageReportOptIn", 1));
    ASSERT_TRUE(waitOps("source", "PlayMySource", 1));
    const int pending = ops("cast", "SetUsageReportOptIn")[0]["result"].asInt();

    ASSERT_EQ(mSim.stop(SIGKILL), 128 + SIGKILL);
    ASSERT_NO_FATAL_FAILURE(startSim());
    EXPECT_TRUE(waitCtl("bus listeners", [](const Json::Value& l) {
        return compactJson(l[0]["mids"]) == "[90,571,150,115,37,572,573]";
    }));
    EXPECT_TRUE(answersGet("after-restart"));
    ASSERT_TRUE(waitOps("cast", "Create", 1));
    EXPECT_TRUE(ops("cast", "CastCliInit").empty());
    Json::Value delivered;
    EXPECT_TRUE(WaitFor([&] { return tryCtl({"source", "play-control", "PAUSE"}, &delivered); }));
    EXPECT_TRUE(waitOps("cast", "SendPlayCommand", 1));

    run({"cast status --name After", "cast respond " + std::to_string(pending) + " 0"});
    EXPECT_TRUE(
        waitCtl("bus read 90", [](const Json::Value& r) { return r["payload"] == "After"; }));
    ASSERT_TRUE(WaitFor([&] { return replies().size() == 2; }));
    EXPECT_EQ(replies()[1], R"({"action":"accepted","device_uuid":"pending","id":"crash_report",)"
                            R"("status":"success","status_msg":"Request approved successfully!"})");
    EXPECT_EQ(ctl("env get GoogleCastUsageReport")["value"].asString(), "true");
}

// Refusing the control ends the controller thread for good; requests are still answered, a SET
// with "unreachable", and nothing reaches the receiver once it would take it.
TEST_F(FaultTest, AReceiverThatRefusesTheControl) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ctl("cast refuse all");
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_TRUE(
        WaitFor([&] { return !lines("castcontroller: Init() Failed to construct").empty(); }));
    run({"cast refuse none", "bus write 90 Kitchen",
         R"(bus write 571 {"request_type":"set","id":"tos","action":"accepted",)"
         R"("device_uuid":"d","user_ip":"i"})"});
    ASSERT_TRUE(WaitFor([&] { return replies().size() == 1; }));
    EXPECT_EQ(replies()[0], R"({"action":"","device_uuid":"","id":"","status":"failure",)"
                            R"("status_msg":"Cast server unreachable try after 5 secs!"})");
    EXPECT_TRUE(answersGet("no-control"));
    EXPECT_EQ(ctl("cast log").size(), 1u);
    EXPECT_TRUE(lines(kStarted).empty());
}

// With the UI manager away nothing is shown and the session goes on; once it is back, the next
// change is shown.
TEST_F(FaultTest, TheUiManagerAwayCostsOnlyTheDisplay) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const std::string media = "cast media --state 3 --time 0 --stream 1 --duration 100 --title ";
    run({"ui down", "cast connect", "cast request-resources", media + "Down"});
    const char* const kNotShown = "castcontroller: updateMetadata() can not update metadata";
    ASSERT_TRUE(WaitFor([&] { return !lines(kNotShown).empty(); }));
    EXPECT_TRUE(answersGet("ui-down"));
    ASSERT_EQ(lines(kNotShown).size(), 1u);
    EXPECT_EQ(lines(kNotShown)[0]["priority"], 3);
    run({"ui up", media + "Up"});
    ASSERT_TRUE(waitCtl("ui log", [](const Json::Value& log) { return log.size() == 1; }));
    EXPECT_EQ(ctl("ui log")[0]["fields"]["trackName"].asString(), "Up");
}

// A setup service that takes the request and never answers holds the controller thread only:
// requests are answered, cast events handled, and a suspend given meanwhile is kept. Then the
// simulator is killed, and the new one's setup service answers while the daemon's device
// connections are still away: the settings writes wait for them.
TEST_F(FaultTest, TheSetupServiceHangsThenTheSimulatorRestartsBeforeTheWrite) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ctl("eureka hang");
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_TRUE(waitCtl("eureka log", [](const Json::Value& log) { return log.size() == 1; }));
    run({"cast connect", "bus write 115 suspend"});
    ASSERT_TRUE(waitOps("cast", "SetDeviceName", 1));
    ASSERT_TRUE(waitOps("cast", "Suspend", 1));
    EXPECT_TRUE(answersGet("while-held"));
    EXPECT_TRUE(ops("cast", "CastCliExit").empty());

    ASSERT_EQ(mSim.stop(SIGKILL), 128 + SIGKILL);
    // The new simulator serves its device socket elsewhere until the fetch has its answer.
    const std::string deviceSocket = mRunDir + "/device.sock";
    ASSERT_NO_FATAL_FAILURE(startSim(mDir + "/second"));
    ASSERT_TRUE(waitCtl("eureka log", [](const Json::Value& log) { return log.size() == 1; }));
    ASSERT_EQ(::unlink(deviceSocket.c_str()), 0);
    ASSERT_EQ(::symlink((mRunDir + "/device.sock").c_str(), deviceSocket.c_str()), 0);
    // It answers "{}": both settings "false". Then the controller thread ends, as it was told.
    EXPECT_TRUE(waitCtl("env log", [](const Json::Value& log) { return log.size() == 2; }));
    EXPECT_EQ(ctl("env get GoogleCastTOS")["value"].asString(), "false");
    EXPECT_EQ(ctl("env get GoogleCastUsageReport")["value"].asString(), "false");
    EXPECT_TRUE(waitOps("cast", "CastCliExit", 1));
    EXPECT_TRUE(answersGet("after-fetch"));
}

}  // namespace
}  // namespace orvix::e2e
