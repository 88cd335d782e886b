// The World: one sequence across every log, the merged timeline and reset.
#include <gtest/gtest.h>

#include "sim/model/JsonText.h"
#include "sim/model/World.h"

namespace orvix::model {
namespace {

TEST(ModelWorld, OneSequenceOrdersEveryLogAndTheTimeline) {
    World world;
    world.bus().write("", Origin::App, Scope::Remote, 571, "req", nullptr);
    world.receiver().call(CastOp::AcceptTos, Json::Value(Json::arrayValue));
    world.source().playMySource(true, 24);
    world.settings().set("GoogleCastTOS", "true", Origin::Daemon);
    world.ui().metadata({UiField::string("trackName", "Song")});
    world.receiver().recordEvent(CastEvent::of(CastEvent::Kind::Connected));
    world.syslog().record(6, 17, "orvixcast", 9, "castobserver: hello");

    EXPECT_EQ(1u, world.bus().logJson()[0]["seq"].asUInt64());
    EXPECT_EQ(2u, world.receiver().logJson()[0]["seq"].asUInt64());
    EXPECT_EQ(3u, world.source().logJson()[0]["seq"].asUInt64());
    EXPECT_EQ(4u, world.settings().logJson()[0]["seq"].asUInt64());
    EXPECT_EQ(5u, world.ui().logJson()[0]["seq"].asUInt64());
    EXPECT_EQ(7u, world.syslog().logJson()[0]["seq"].asUInt64());

    std::vector<std::string> lines = world.timeline();
    ASSERT_EQ(7u, lines.size());
    const char* expected[] = {
        "bus      app wrote MID 571 (remote): \"req\"",
        "cast     AcceptTos[] = 1",
        "source   PlayMySource[24] = true",
        "env      daemon set GoogleCastTOS = \"true\"",
        "ui       metadata {\"trackName\":\"Song\"}",
        "cast     -> OnControlConnected()",
        "syslog   info orvixcast: castobserver: hello",
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_NE(std::string::npos, lines[i].find(expected[i])) << lines[i];
        EXPECT_EQ(i + 1, std::stoul(lines[i])) << lines[i];
    }
    EXPECT_EQ(7u, world.timelineJson().size());
}

TEST(ModelWorld, ResetRestoresEveryDefault) {
    World world;
    world.bus().setReachable(false);
    world.settings().set("k", "v", Origin::App);
    world.deviceName().setName("n");
    world.source().setGrant(false);
    world.ui().setUp(false);
    world.receiver().refuse("all");
    world.receiver().setAutoRespond(0);
    world.receiver().call(CastOp::AcceptTos, Json::Value(Json::arrayValue));
    world.setup().setUp(false);
    world.syslog().record(3, 17, "x", 1, "y");
    const std::string before = world.bus().newClientId();

    world.reset();

    EXPECT_TRUE(world.bus().reachable());
    EXPECT_TRUE(world.settings().values().empty());
    EXPECT_EQ("", world.deviceName().name());
    EXPECT_TRUE(world.source().grant());
    EXPECT_TRUE(world.ui().up());
    EXPECT_FALSE(world.receiver().refused(CastOp::Create));
    EXPECT_FALSE(world.receiver().autoRespond());
    EXPECT_EQ(1, world.receiver().nextRequestId());
    EXPECT_TRUE(world.setup().current().up);
    EXPECT_TRUE(world.timeline().empty());
    // Ids of live clients stay unique across a reset.
    EXPECT_NE(before, world.bus().newClientId());
    world.settings().set("k", "v", Origin::App);
    EXPECT_EQ(1u, world.settings().logJson()[0]["seq"].asUInt64());
}

}  // namespace
}  // namespace orvix::model
