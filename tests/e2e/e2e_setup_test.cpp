// What the device and the receiver settle between them besides playback, through orvixsim:
// the receiver's setup info copied into the settings at start, the stored multi-room delay
// handed over on connection, and the timezone in both directions.
#include <unistd.h>

#include "tests/e2e/E2eLogs.h"
#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {
namespace {

std::string ReadLink(const std::string& path) {
    char target[256];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

class SetupTest : public E2eTest {};

TEST_F(SetupTest, SetupInfoAtStartAndTheStoredDelayRetriedUntilTaken) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    json({"eureka", "body", R"({"tos_accepted":true,"opt_in":{},"crash":true})"});
    json({"env", "set", "GoogleCastTOS", "true"});
    json({"env", "set", "GoogleCastPlayerLatency", "250"});
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_FALSE(waitSyslog("castcontroller: threadLoop() Deallocate Read eureka thread resources!")
                     .isNull());
    // Only what differs is written: the terms were already recorded as accepted.
    std::vector<Json::Value> daemonSets;
    for (const Json::Value& e : json({"env", "log"})) {
        if (e["from"].asString() == "daemon") daemonSets.push_back(e);
    }
    ASSERT_EQ(daemonSets.size(), 1u);
    EXPECT_EQ(daemonSets[0]["key"].asString(), "GoogleCastUsageReport");
    EXPECT_EQ(daemonSets[0]["value"].asString(), "true");
    EXPECT_EQ(json({"env", "get", "GoogleCastTOS"})["value"].asString(), "true");
    EXPECT_EQ(
        waitSyslog("castcontroller: ReadEurekaInfoCurl() ENV ToS value: true and cURL result:true")
            ["priority"]
                .asInt(),
        6);
    EXPECT_EQ(json({"eureka", "log"}).size(), 1u);

    // The receiver will not take the delay at first: the daemon offers it again each second
    // until it does, in microseconds.
    json({"cast", "refuse", "SetMultizoneDelay"});
    json({"cast", "connect"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return WithOp(l, "SetMultizoneDelay").size() >= 2;
    }));
    json({"cast", "refuse", "none"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return LastOp(l, "SetMultizoneDelay")["result"].asInt() > 0;
    }));
    const auto attempts = WithOp(json({"cast", "log"}), "SetMultizoneDelay");
    for (size_t i = 0; i < attempts.size(); ++i) {
        EXPECT_EQ(attempts[i]["args"], ArgList({Json::Int64(250000)})) << i;
        if (i + 1 < attempts.size()) {
            EXPECT_EQ(attempts[i]["result"].asInt(), -1) << i;
        }
    }
    const Json::Value refused = waitSyslog(
        "castcontroller: HandleMultiZoneDelay() Multizone delay:250000.000000, Request ID:-1, "
        "Successful ?: NO");
    EXPECT_EQ(refused["priority"].asInt(), 5);
}

TEST_F(SetupTest, TimezoneFromTheReceiverToTheDeviceAndBack) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    json({"cast", "connect"});
    ASSERT_TRUE(waitCastOp("RequestCastStatus"));

    // Set through the cast side: the device's link, file and setting follow.
    json({"cast", "status", "--timezone", "Europe/Berlin"});
    ASSERT_TRUE(WaitFor([&] { return readFile("/data/time/timezone") == "Europe/Berlin"; }));
    EXPECT_EQ(ReadLink("/data/time/localtime"), "/usr/share/zoneinfo/Europe/Berlin");
    ASSERT_TRUE(waitJson({"env", "get", "TimeZone"}, [](const Json::Value& r) {
        return r["value"].asString() == "Europe/Berlin";
    }));
    EXPECT_EQ(waitSyslog("castcontroller: HandleCastTimezoneData() Successfully pointed to "
                         "timezone configured in GHome! Command: ln -sf "
                         "/usr/share/zoneinfo/Europe/Berlin /data/time/localtime")["priority"]
                  .asInt(),
              5);

    // Set on the device: its owner app stores the zone and alerts the daemon on MID 573.
    json({"env", "set", "TimeZone", "America/New_York"});
    json({"bus", "write", "573", ""});
    ASSERT_TRUE(waitCastOp("SetTimezone"));
    const Json::Value sent = LastOp(json({"cast", "log"}), "SetTimezone");
    EXPECT_EQ(sent["args"], ArgList({"America/New_York"}));
    EXPECT_FALSE(waitSyslog("castcontroller: HandleOEMTimezoneData() timezone:America/New_York "
                            "request id:" +
                            std::to_string(sent["result"].asInt()))
                     .isNull());

    // The receiver then reports the zone it was just given: no echo back to the device.
    json({"cast", "status", "--timezone", "America/New_York"});
    EXPECT_FALSE(waitSyslog("castcontroller: HandleOnCastStatusResponse() cast Timezone: "
                            "America/New_York, Already set timezone: America/New_York")
                     .isNull());
    EXPECT_EQ(readFile("/data/time/timezone"), "Europe/Berlin");
    EXPECT_EQ(ReadLink("/data/time/localtime"), "/usr/share/zoneinfo/Europe/Berlin");
    EXPECT_EQ(WithOp(json({"cast", "log"}), "SetTimezone").size(), 1u);
}

}  // namespace
}  // namespace orvix::e2e
