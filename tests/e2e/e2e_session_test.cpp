// A whole cast session through orvixsim: a receiver connects, reports its status, plays a
// track with metadata, pauses and goes away, then comes back to a daemon that remembers it.
#include "tests/e2e/E2eLogs.h"
#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {
namespace {

const char* const kGetRequest = R"({"request_type":"get","id":"tos","device_uuid":"barrier"})";

class CastSessionTest : public E2eTest {
protected:
    std::vector<Json::Value> positions() { return BusWrites(json({"bus", "log"}), 49); }
};

TEST_F(CastSessionTest, ConnectStatusTrackTicksPauseDisconnectAndReconnect) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // The source-switch service keeps the current source on MID 50; cast has the speaker.
    json({"bus", "write", "50", "24"});

    // Connection: nobody has a name for the device yet, and no delay is stored.
    json({"cast", "connect"});
    ASSERT_TRUE(waitCastOp("RequestCastStatus"));
    Json::Value cast = json({"cast", "log"});
    const Json::Value name = LastOp(cast, "SetDeviceName");
    const Json::Value delay = LastOp(cast, "SetMultizoneDelay");
    EXPECT_EQ(name["args"], ArgList({"OrvixSync_"}));
    EXPECT_EQ(delay["args"], ArgList({0}));
    EXPECT_LT(SeqOf(name), SeqOf(delay));
    EXPECT_LT(SeqOf(delay), SeqOf(LastOp(cast, "RequestCastStatus")));

    // The receiver's status reaches the bus and the settings.
    json({"cast", "status", "--name", "Kitchen", "--build", "1.56.500", "--locale", "en-GB",
          "--usage-report", "1", "--app", "Radio"});
    ASSERT_TRUE(waitJson({"bus", "read", "7"}, [](const Json::Value& r) {
        return r["payload"].asString() == "1.56.500";
    }));
    const std::vector<Json::Value> names = BusWrites(json({"bus", "log"}), 90);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0]["scope"].asString(), "remote");
    EXPECT_EQ(names[1]["scope"].asString(), "local");
    EXPECT_EQ(names[1]["payload"].asString(), "Kitchen");
    ASSERT_TRUE(waitJson({"env", "get", "GoogleCastFactoryLocale"},
                         [](const Json::Value& r) { return r["value"].asString() == "en-GB"; }));
    EXPECT_EQ(json({"env", "get", "DeviceFriendlyName"})["value"].asString(), "Kitchen");
    EXPECT_EQ(json({"env", "get", "GoogleCastFirmwareVersion"})["value"].asString(), "1.56.500");
    EXPECT_EQ(json({"env", "get", "GoogleCastUsageReport"})["value"].asString(), "true");

    // A track plays: the service hears PLAYING, the UI gets the now-playing record, and the
    // position is published every second from where the receiver said it was.
    const std::vector<std::string> track{"--stream", "1",    "--duration", "215.5",
                                         "--title",  "Blue", "--artist",   "Ann",
                                         "--album",  "Sea",  "--image",    "http://art/c.jpg"};
    std::vector<std::string> playing{"cast", "media", "--state", "2", "--time", "12.7"};
    playing.insert(playing.end(), track.begin(), track.end());
    json(playing);
    ASSERT_TRUE(WaitFor([&] { return positions().size() >= 2; }));
    std::vector<Json::Value> ticks = positions();
    EXPECT_EQ(ticks[0]["payload"].asString(), "12000");
    EXPECT_EQ(ticks[1]["payload"].asString(), "13000");
    EXPECT_EQ(LastOp(json({"source", "log"}), "UpdatePlayerState")["args"], ArgList({0}));
    ASSERT_TRUE(waitJson({"ui", "log"}, [](const Json::Value& l) { return l.size() == 1; }));
    const Json::Value shown = json({"ui", "log"})[0];
    EXPECT_EQ(shown["op"].asString(), "metadata");
    EXPECT_EQ(shown["fields"]["trackName"].asString(), "Blue");
    EXPECT_EQ(shown["fields"]["artist"].asString(), "Ann");
    EXPECT_EQ(shown["fields"]["album"].asString(), "Sea");
    EXPECT_EQ(shown["fields"]["coverArt"].asString(), "http://art/c.jpg");
    EXPECT_EQ(shown["fields"]["totalTime"].asInt(), 215500);
    EXPECT_EQ(shown["fields"]["currentSource"].asInt(), 24);

    // Paused (sent right after a tick, so it lands while the reporter sleeps): the service
    // hears PAUSED, the reporter writes the paused position once and then stays quiet, and the
    // unchanged metadata is not sent again.
    std::vector<std::string> paused{"cast", "media", "--state", "3", "--time", "40.2"};
    paused.insert(paused.end(), track.begin(), track.end());
    json(paused);
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& l) {
        return LastOp(l, "UpdatePlayerState")["args"] == ArgList({2});
    }));
    ASSERT_TRUE(WaitFor([&] { return positions().back()["payload"].asString() == "40000"; }));
    const size_t written = positions().size();
    EXPECT_FALSE(WaitFor([&] { return positions().size() > written; }, 1500ms))
        << positions().back();
    EXPECT_EQ(json({"ui", "log"}).size(), 1u);

    // The receiver goes away while cast owns the speaker: the observer gives the speaker back
    // and the controller empties the UI.
    json({"cast", "disconnect"});
    ASSERT_TRUE(waitJson({"ui", "log"}, [](const Json::Value& l) { return l.size() == 2; }));
    EXPECT_EQ(json({"ui", "log"})[1]["op"].asString(), "clear");
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& l) {
        return !WithOp(l, "DisconnectMySource").empty();
    }));
    const Json::Value source = json({"source", "log"});
    const Json::Value idle = LastOp(source, "UpdatePlayerState");
    EXPECT_EQ(idle["args"], ArgList({1}));
    EXPECT_LT(SeqOf(idle), SeqOf(LastOp(source, "DisconnectMySource")));
    const Json::Value cleanUp = waitSyslog(
        "castcontroller: HandleGracefulCleanUp() Current source ID:24, Source switch ?:No");
    EXPECT_EQ(cleanUp["priority"].asInt(), 5);

    // Back again: the receiver takes the name it reported, and the daemon neither asks for the
    // version it knows nor sends the delay that was taken.
    json({"cast", "connect"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return WithOp(l, "SetDeviceName").size() == 2;
    }));
    EXPECT_FALSE(waitSyslog("castcontroller: HandleOnControlConnected() Multizone delay has "
                            "already set! mMultizoneRequestId : " +
                            std::to_string(delay["result"].asInt()))
                     .isNull());
    // The looper handles messages in order: once a later request is answered, whatever the
    // connection posted has run.
    json({"bus", "write", "571", kGetRequest});
    ASSERT_TRUE(WaitFor([&] { return !BusWrites(json({"bus", "log"}), 572).empty(); }));
    cast = json({"cast", "log"});
    EXPECT_EQ(LastOp(cast, "SetDeviceName")["args"], ArgList({"Kitchen"}));
    EXPECT_EQ(WithOp(cast, "SetMultizoneDelay").size(), 1u);
    EXPECT_EQ(WithOp(cast, "RequestCastStatus").size(), 1u);
}

}  // namespace
}  // namespace orvix::e2e
