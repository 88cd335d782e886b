// A whole session through the real binaries, as the demo tells it: commands ("$ ..."), each
// followed by everything the daemon then did to the device and the receiver, in order.
#include <filesystem>

#include "tests/e2e/E2e.h"

namespace orvix::e2e {
namespace {

const char* const kSession = R"(
Create["/tmp/cast-control"] | CastCliInit[] | CastCliSyncVolume[30]
$ eureka up
GoogleCastTOS=false | GoogleCastUsageReport=true
$ bus write 571 {"request_type":"get","id":"tos","device_uuid":"phone-1"}
572:{"crash_report":true,"device_uuid":"phone-1","id":"status","status":"success","tos":"not_activated"}
$ cast auto-respond 0
$ bus write 571 {"request_type":"set","id":"tos","action":"accepted","device_uuid":"phone-1","user_ip":"192.0.2.7"}
AcceptTos[] | SetTimezone["Europe/London"] | GoogleCastTOS=true
572:{"action":"accepted","device_uuid":"phone-1","id":"tos","status":"success","status_msg":"Request approved successfully!"}
$ cast auto-respond off
$ bus write 571 {"request_type":"get","id":"tos","device_uuid":"phone-1"}
572:{"crash_report":true,"device_uuid":"phone-1","id":"status","status":"success","tos":"activated"}
$ cast connect
SetDeviceName["Living Room"] | SetMultizoneDelay[120000] | RequestCastStatus[]
$ cast status --name 'Living Room Speaker' --build 1.56.281627 --locale en-GB --usage-report 1 --timezone Europe/Berlin
90:Living Room Speaker | 90 local:Living Room Speaker | DeviceFriendlyName=Living Room Speaker
GoogleCastFirmwareVersion=1.56.281627 | 7:1.56.281627 | GoogleCastUsageReport=true
GoogleCastFactoryLocale=en-GB | TimeZone=Europe/Berlin
$ env set TimeZone Asia/Tokyo
$ bus write 573 ''
SetTimezone["Asia/Tokyo"]
$ bus write 64 45
$ cast request-resources
PlayMySource[24] | GrantResources[] | CastCliSyncVolume[45]
$ cast media --state 2 --time 12.7 --stream 1 --duration 215.5 --title 'Quiet Harbour' --artist 'The Lanterns' --album 'Night Ferry'
UpdatePlayerState[0] | ui metadata
$ source play-control PAUSE
SendPlayCommand[1]
$ cast media --state 3 --time 40.2 --stream 1 --duration 215.5 --title 'Quiet Harbour' --artist 'The Lanterns' --album 'Night Ferry'
UpdatePlayerState[2]
$ source volume 55
CastCliSyncVolume[55]
$ cast volume 57
UpdateAppVolume["57"]
$ source switch
UpdatePlayerState[1] | RevokeResources[]
$ cast release-resources
ui clear | NotifyPlaybackStopped[]
$ source play-control STANDBYON
RevokeResources[]
$ bus write 115 suspend
Suspend[3] | CastCliExit[]
$ bus write 571 {"request_type":"get","id":"tos","device_uuid":"phone-1"}
572:{"crash_report":true,"device_uuid":"phone-1","id":"status","status":"success","tos":"activated"}
)";

class ScenarioTest : public E2eTest {};

TEST_F(ScenarioTest, AWholeSession) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    // The setup service holds the start-up fetch until the script lets it answer.
    run({R"(eureka body '{"tos_accepted":false,"opt_in":{},"crash":true}')", "eureka hang",
         "name set 'Living Room'", "env set GoogleCastPlayerLatency 120",
         "env set TimeZone Europe/London"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    const auto ticks = [&] {
        Args written;
        for (const Json::Value& w : select("bus log", "mid", "49"))
            written.push_back(w["payload"].asString());
        return written;
    };
    // One effect a line; a last command ends the last step.
    std::string text = std::string(kSession) + "$ ";
    for (size_t at; (at = text.find(" | ")) != std::string::npos;) text.replace(at, 3, "\n");
    std::istringstream script(text);
    Args commands, expected;
    for (std::string line; std::getline(script, line);) {
        const bool command = line.rfind("$ ", 0) == 0;
        if (command && !expected.empty()) {
            SCOPED_TRACE(commands.empty() ? "start-up" : commands.back());
            run(commands);
            ASSERT_EQ(effects(expected.size()), expected);
            // Playing: the position once a second from where the receiver was.
            ASSERT_TRUE(expected.back() != "ui metadata" ||
                        WaitFor([&] { return ticks().size() == 2; }));
            commands.clear();
            expected.clear();
        }
        if (command) commands.push_back(line.substr(2));
        if (!command && !line.empty()) expected.push_back(line);
    }
    // The status set the device's clock.
    std::ifstream zone("/data/time/timezone");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(zone), {}), "Europe/Berlin");
    EXPECT_EQ(std::filesystem::read_symlink("/data/time/localtime"),
              "/usr/share/zoneinfo/Europe/Berlin");
    // The track's record, fields in the order the UI takes them.
    ctl("ui log");
    EXPECT_NE(mText.find(R"("fields":{"album":"Night Ferry","artist":"The Lanterns",)"
                         R"("coverArt":"defaultArt.jpg","playState":0,"totalTime":215500,)"
                         R"("trackName":"Quiet Harbour","next":1,"prev":1,"repeat":-1,)"
                         R"("shuffle":-1,"seek":0,"currentSource":24}})"),
              std::string::npos)
        << mText;
    // Paused, the position settles on where the receiver paused.
    EXPECT_TRUE(WaitFor([&] { return ticks().back() == "40000"; }));
    EXPECT_EQ(ticks(), (Args{"12000", "13000", "40000"}));
}

}  // namespace
}  // namespace orvix::e2e
