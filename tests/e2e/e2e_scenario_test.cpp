// A whole session through the real binaries, as the demo tells it: each step's commands, then
// everything the daemon did to the device and the receiver because of them, in order.
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "tests/e2e/E2e.h"

namespace orvix::e2e {
namespace {

struct Step {
    const char* story;
    std::vector<std::string> commands;
    std::vector<std::string> effects;
    bool ordered = true;  // false where two threads of the daemon act at once
};

const std::string kTrack =
    " --stream 1 --duration 215.5 --title 'Quiet Harbour' --artist 'The Lanterns' --album "
    "'Night Ferry'";
const std::string kSet =
    R"({"request_type":"set","id":"tos","action":"accepted","device_uuid":"phone-1","user_ip":"192.0.2.7"})";

const std::vector<Step> kSession = {
    {"start-up: the setup info copied into the settings",
     {},
     {R"(Create["/tmp/cast-control"])", "CastCliInit[]", "CastCliSyncVolume[30]",
      "GoogleCastTOS=false", "GoogleCastUsageReport=true"},
     false},
    {"an app asks for the consent state",
     {"bus write 571 " + GetRequest("phone-1")},
     {R"(572:{"crash_report":true,"device_uuid":"phone-1","id":"status","status":"success","tos":"not_activated"})"}},
    {"the app accepts the terms, the receiver is asked with the timezone along and answers",
     {"cast auto-respond 0", "bus write 571 " + kSet},
     {"AcceptTos[]", R"(SetTimezone["Europe/London"])", "GoogleCastTOS=true",
      R"(572:{"action":"accepted","device_uuid":"phone-1","id":"tos","status":"success","status_msg":"Request approved successfully!"})"}},
    {"the app asks again",
     {"cast auto-respond off", "bus write 571 " + GetRequest("phone-1")},
     {R"(572:{"crash_report":true,"device_uuid":"phone-1","id":"status","status":"success","tos":"activated"})"}},
    {"a receiver connects: name, multi-room delay, status asked for",
     {"cast connect"},
     {R"(SetDeviceName["Living Room"])", "SetMultizoneDelay[120000]", "RequestCastStatus[]"}},
    {"its status reaches the bus and the settings",
     {"cast status --name 'Living Room Speaker' --build 1.56.281627 --locale en-GB "
      "--usage-report 1 --timezone Europe/Berlin"},
     {"90:Living Room Speaker", "90 local:Living Room Speaker",
      "DeviceFriendlyName=Living Room Speaker", "GoogleCastFirmwareVersion=1.56.281627",
      "7:1.56.281627", "GoogleCastUsageReport=true", "GoogleCastFactoryLocale=en-GB",
      "TimeZone=Europe/Berlin"}},
    {"a timezone set on the device reaches the receiver",
     {"env set TimeZone Asia/Tokyo", "bus write 573 ''"},
     {R"(SetTimezone["Asia/Tokyo"])"}},
    {"a sender gets the speaker at the device's volume",
     {"bus write 64 45", "cast request-resources"},
     {"PlayMySource[24]", "GrantResources[]", "CastCliSyncVolume[45]"}},
    {"a track plays",
     {"cast media --state 2 --time 12.7" + kTrack},
     {"UpdatePlayerState[0]", "ui metadata"}},
    {"the device's pause button", {"source play-control PAUSE"}, {"SendPlayCommand[1]"}},
    {"the receiver reports the pause",
     {"cast media --state 3 --time 40.2" + kTrack},
     {"UpdatePlayerState[2]"}},
    {"the device's volume to the receiver", {"source volume 55"}, {"CastCliSyncVolume[55]"}},
    {"the sender's slider to the device", {"cast volume 57"}, {R"(UpdateAppVolume["57"])"}},
    {"another source takes the speaker",
     {"source switch"},
     {"UpdatePlayerState[1]", "RevokeResources[]"}},
    {"the receiver lets go", {"cast release-resources"}, {"ui clear", "NotifyPlaybackStopped[]"}},
    {"standby", {"source play-control STANDBYON"}, {"RevokeResources[]"}},
    {"suspend", {"bus write 115 suspend"}, {"Suspend[3]", "CastCliExit[]"}},
};

class ScenarioTest : public E2eTest {
protected:
    std::vector<std::string> positions() {
        std::vector<std::string> found;
        for (const Json::Value& write : ctl("bus log")) {
            if (write["mid"] == 49) found.push_back(write["payload"].asString());
        }
        return found;
    }
};

TEST_F(ScenarioTest, AWholeSession) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    run({R"(eureka body '{"tos_accepted":false,"opt_in":{},"crash":true}')",
         "name set 'Living Room'", "env set GoogleCastPlayerLatency 120",
         "env set TimeZone Europe/London"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    for (const Step& step : kSession) {
        SCOPED_TRACE(step.story);
        run(step.commands);
        std::vector<std::string> seen = effects(step.effects.size());
        std::vector<std::string> expected = step.effects;
        if (!step.ordered) {
            std::sort(seen.begin(), seen.end());
            std::sort(expected.begin(), expected.end());
        }
        ASSERT_EQ(seen, expected);
        if (step.commands.empty()) {
            ASSERT_TRUE(WaitFor([&] { return !lines(kStarted).empty(); }));
        }
        if (step.effects.back() == "TimeZone=Europe/Berlin") {
            std::ifstream zone("/data/time/timezone");
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(zone), {}), "Europe/Berlin");
            char link[64] = {};
            EXPECT_GT(::readlink("/data/time/localtime", link, sizeof link - 1), 0);
            EXPECT_STREQ(link, "/usr/share/zoneinfo/Europe/Berlin");
        }
        if (step.effects.back() == "ui metadata") {
            ctl("ui log");
            EXPECT_NE(mText.find(R"("fields":{"album":"Night Ferry","artist":"The Lanterns",)"
                                 R"("coverArt":"defaultArt.jpg","playState":0,"totalTime":215500,)"
                                 R"("trackName":"Quiet Harbour","next":1,"prev":1,"repeat":-1,)"
                                 R"("shuffle":-1,"seek":0,"currentSource":24}})"),
                      std::string::npos)
                << mText;
            // Once a second from where the receiver was.
            std::vector<std::string> ticks;
            ASSERT_TRUE(WaitFor([&] { return (ticks = positions()).size() >= 2; }));
            EXPECT_EQ(ticks[0] + " " + ticks[1], "12000 13000");
        }
        if (step.effects.back() == "UpdatePlayerState[2]") {
            // Paused: the reporter settles on the paused position.
            ASSERT_TRUE(WaitFor([&] { return positions().back() == "40000"; }));
        }
    }
    // Everything is accounted for: a later request's reply is the next thing the daemon does.
    ASSERT_TRUE(answersGet("last"));
    EXPECT_EQ(effects(1),
              std::vector<std::string>{R"(572:{"crash_report":true,"device_uuid":"last",)"
                                       R"("id":"status","status":"success","tos":"activated"})"});
}

}  // namespace
}  // namespace orvix::e2e
