// The control CLI's device-side forms (bus, env, name, source, ui) against the running
// daemon: each prints one JSON document, and its effect shows in what the daemon did.
#include <sys/stat.h>

#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {
namespace {

Json::Value Args(std::initializer_list<Json::Value> values) {
    Json::Value list(Json::arrayValue);
    for (const Json::Value& v : values) list.append(v);
    return list;
}

// The last entry of log for op, null when there is none.
Json::Value Last(const Json::Value& log, const std::string& op) {
    const auto entries = WithOp(log, op);
    return entries.empty() ? Json::Value() : entries.back();
}

class DeviceCliTest : public E2eTest {};

TEST_F(DeviceCliTest, BusWriteReadListenersLogUpDown) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const std::string request = R"({"request_type":"get","id":"tos","device_uuid":"phone-1"})";
    const Json::Value written = json({"bus", "write", "571", request});
    EXPECT_EQ(written["mid"].asInt(), 571);
    EXPECT_EQ(written["payload"].asString(), request);
    EXPECT_EQ(written["alerts"].asInt(), 1);

    // The start-up fetch stored "false" for both consents, so that is what the reply shows.
    ASSERT_TRUE(waitJson({"bus", "read", "572"},
                         [](const Json::Value& r) { return !r["payload"].asString().empty(); }));
    EXPECT_EQ(json({"bus", "read", "572"})["payload"].asString(),
              R"({"crash_report":false,"device_uuid":"phone-1","id":"status",)"
              R"("status":"success","tos":"not_activated"})");

    const Json::Value listeners = json({"bus", "listeners"});
    ASSERT_EQ(listeners.size(), 1u);
    EXPECT_EQ(listeners[0]["mids"], Args({90, 571, 150, 115, 37, 572, 573}));

    const Json::Value log = json({"bus", "log"});
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0]["mid"].asInt(), 571);
    EXPECT_EQ(log[0]["from"].asString(), "app");
    EXPECT_EQ(log[0]["scope"].asString(), "remote");
    Json::Value reply;
    for (const Json::Value& w : log) {
        if (w["mid"].asInt() == 572) reply = w;
    }
    EXPECT_EQ(reply["from"].asString(), "daemon");
    EXPECT_GT(reply["seq"].asUInt64(), log[0]["seq"].asUInt64());
    // One sequence for all logs: the daemon's log line about the request sits in between.
    const Json::Value entered = waitSyslog("castcontroller: HandleClientRequest() Entered");
    EXPECT_GT(entered["seq"].asUInt64(), log[0]["seq"].asUInt64());
    EXPECT_LT(entered["seq"].asUInt64(), reply["seq"].asUInt64());

    EXPECT_FALSE(json({"bus", "down"})["reachable"].asBool());
    const CliResult refused = cli({"bus", "write", "571", request});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("bus unreachable"), std::string::npos);
    EXPECT_TRUE(json({"bus", "up"})["reachable"].asBool());
}

TEST_F(DeviceCliTest, EnvAndNameReachTheDaemonAndSettingsSurviveARestart) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // The start-up fetch answered "{}": the daemon stored both consents as "false".
    const Json::Value daemonSets = json({"env", "log"});
    ASSERT_EQ(daemonSets.size(), 2u);
    EXPECT_EQ(daemonSets[0]["key"].asString(), "GoogleCastTOS");
    EXPECT_EQ(daemonSets[0]["value"].asString(), "false");
    EXPECT_EQ(daemonSets[0]["from"].asString(), "daemon");

    const Json::Value set = json({"env", "set", "GoogleCastPlayerLatency", "1500"});
    EXPECT_EQ(set["key"].asString(), "GoogleCastPlayerLatency");
    EXPECT_EQ(set["value"].asString(), "1500");
    EXPECT_EQ(json({"env", "get", "GoogleCastPlayerLatency"})["value"].asString(), "1500");
    EXPECT_EQ(json({"env", "get", "NoSuchKey"})["value"].asString(), "");
    EXPECT_EQ(json({"env", "log"}).size(), 3u);

    EXPECT_EQ(json({"name"})["name"].asString(), "");
    EXPECT_EQ(json({"name", "set", "Den"})["name"].asString(), "Den");
    const Json::Value status = json({"name", "status", "0"});
    EXPECT_EQ(status["status"].asInt(), 0);
    EXPECT_EQ(status["name"].asString(), "Den");
    // On connection the receiver gets the device's name and the stored multi-room delay.
    json({"cast", "connect"});
    ASSERT_TRUE(waitCastOp("SetMultizoneDelay"));
    const Json::Value cast = json({"cast", "log"});
    EXPECT_EQ(Last(cast, "SetDeviceName")["args"], Args({"Den"}));
    EXPECT_EQ(Last(cast, "SetMultizoneDelay")["args"], Args({1500}));

    stopSim(SIGTERM);
    struct stat st {};
    EXPECT_EQ(stat((mStateDir + "/settings.json").c_str(), &st), 0);
    ASSERT_NO_FATAL_FAILURE(startSim());
    EXPECT_EQ(json({"env", "get", "GoogleCastPlayerLatency"})["value"].asString(), "1500");
    EXPECT_EQ(json({"env", "get", "GoogleCastTOS"})["value"].asString(), "false");
}

TEST_F(DeviceCliTest, SourceNotificationsGrantPolicyAndLog) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // The daemon passes its listener with its first call; until then nobody hears.
    const CliResult early = cli({"source", "switch"});
    EXPECT_EQ(early.status, 1);
    EXPECT_NE(early.err.find("no source-switch listener connected"), std::string::npos);

    EXPECT_FALSE(json({"source", "grant", "no"})["grant"].asBool());
    json({"cast", "request-resources"});
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& log) {
        return !WithOp(log, "PlayMySource").empty();
    }));
    Json::Value log = json({"source", "log"});
    EXPECT_EQ(Last(log, "PlayMySource")["args"], Args({24}));
    EXPECT_FALSE(Last(log, "PlayMySource")["result"].asBool());
    EXPECT_TRUE(WithOp(json({"cast", "log"}), "GrantResources").empty());

    EXPECT_TRUE(json({"source", "grant", "yes"})["grant"].asBool());
    json({"cast", "request-resources"});
    ASSERT_TRUE(waitCastOp("GrantResources"));
    EXPECT_TRUE(Last(json({"source", "log"}), "PlayMySource")["result"].asBool());

    const Json::Value pause = json({"source", "play-control", "PAUSE"});
    EXPECT_EQ(pause["delivered"].asString(), "play-control");
    EXPECT_EQ(pause["text"].asString(), "PAUSE");
    ASSERT_TRUE(waitCastOp("SendPlayCommand"));
    EXPECT_EQ(Last(json({"cast", "log"}), "SendPlayCommand")["args"], Args({1}));

    json({"source", "volume", "40"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return Last(l, "CastCliSyncVolume")["args"] == Args({40});
    }));

    json({"source", "switch"});
    ASSERT_TRUE(waitCastOp("RevokeResources"));
    log = json({"source", "log"});
    EXPECT_EQ(Last(log, "UpdatePlayerState")["args"], Args({1}));
    for (const Json::Value& entry : log) {
        EXPECT_TRUE(entry["seq"].isUInt64() && entry["args"].isArray() && entry.isMember("result"))
            << entry;
    }
}

TEST_F(DeviceCliTest, UiRecordsNowPlayingInFieldOrderAndCanBeDown) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    json({"cast", "connect"});
    json({"cast", "request-resources"});
    json({"cast",    "media",          "--state",  "2",          "--time",
          "12",      "--stream",       "1",        "--duration", "215.5",
          "--title", "Blue",           "--artist", "Ann",        "--album",
          "Sea",     "--album-artist", "Ann & Co", "--image",    "http://art/c.jpg"});
    ASSERT_TRUE(waitJson({"ui", "log"}, [](const Json::Value& l) { return l.size() == 1; }));
    const CliResult ui = cli({"ui", "log"});
    const Json::Value fields = ui.json[0]["fields"];
    EXPECT_EQ(ui.json[0]["op"].asString(), "metadata");
    EXPECT_EQ(fields["trackName"].asString(), "Blue");
    EXPECT_EQ(fields["artist"].asString(), "Ann");
    EXPECT_EQ(fields["coverArt"].asString(), "http://art/c.jpg");
    EXPECT_EQ(fields["totalTime"].asInt(), 215500);
    // Printed in the order the daemon set them, which a parsed object would not keep.
    EXPECT_NE(ui.out.find(R"("seek":0,"currentSource":24})"), std::string::npos) << ui.out;
    // Playing: the position is reported on MID 49 in milliseconds, once a second.
    ASSERT_TRUE(waitJson({"bus", "read", "49"},
                         [](const Json::Value& r) { return r["payload"].asString() == "13000"; }));
    EXPECT_EQ(Last(json({"source", "log"}), "UpdatePlayerState")["args"], Args({0}));

    EXPECT_FALSE(json({"ui", "down"})["up"].asBool());
    json({"cast", "media", "--state", "2", "--time", "20", "--stream", "1", "--duration", "100",
          "--title", "Red"});
    const Json::Value line = waitSyslog(
        "castcontroller: updateMetadata() can not update "
        "metadata to UIManager!");
    EXPECT_EQ(line["priority"].asInt(), 3);
    EXPECT_EQ(json({"ui", "log"}).size(), 1u);
    EXPECT_TRUE(json({"ui", "up"})["up"].asBool());
}

}  // namespace
}  // namespace orvix::e2e
