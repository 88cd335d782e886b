// The message-bus model: who gets alerts, with what payload, and how listeners are listed.
#include <gtest/gtest.h>

#include "sim/model/JsonText.h"
#include "sim/model/World.h"

namespace orvix::model {
namespace {

Json::Value J(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(parseJson(text, &v)) << text;
    return v;
}

TEST(ModelBus, AlertsGoToOtherRegisteredClientsWithPayloadSnapshots) {
    World world;
    MessageBus& bus = world.bus();
    const std::string a = bus.newClientId();
    const std::string b = bus.newClientId();
    const std::string c = bus.newClientId();
    EXPECT_NE(a, b);
    ASSERT_TRUE(bus.registerListener(a, {90, 571}));
    ASSERT_TRUE(bus.registerListener(b, {571}));
    ASSERT_TRUE(bus.registerListener(c, {49}));

    // An app write on 571 reaches both listeners of 571, each with its own snapshot.
    std::vector<BusAlert> alerts;
    ASSERT_TRUE(bus.write("", Origin::App, Scope::Remote, 571, "first", &alerts));
    ASSERT_EQ(2u, alerts.size());
    EXPECT_EQ(a, alerts[0].client);
    EXPECT_EQ(b, alerts[1].client);
    EXPECT_EQ("first", alerts[0].payload);

    // A burst keeps every payload in its alert while the bus only holds the last.
    std::vector<BusAlert> second;
    ASSERT_TRUE(bus.write("", Origin::App, Scope::Remote, 571, "second", &second));
    EXPECT_EQ("first", alerts[1].payload);
    EXPECT_EQ("second", second[0].payload);
    EXPECT_EQ("second", bus.payload(571));

    // The writer is not alerted for its own write, the other listener of the MID is.
    alerts.clear();
    ASSERT_TRUE(bus.write(a, Origin::Daemon, Scope::Local, 571, "reply", &alerts));
    ASSERT_EQ(1u, alerts.size());
    EXPECT_EQ(b, alerts[0].client);

    // Nobody listens to 7.
    alerts.clear();
    ASSERT_TRUE(bus.write(a, Origin::Daemon, Scope::Remote, 7, "1.0", &alerts));
    EXPECT_TRUE(alerts.empty());
}

TEST(ModelBus, ListenersKeepRegistrationOrderAndUnregisterRemovesMids) {
    World world;
    MessageBus& bus = world.bus();
    ASSERT_TRUE(bus.registerListener("x", {90, 571, 150}));
    ASSERT_TRUE(bus.registerListener("y", {63}));
    // Re-registering appends only what is new.
    ASSERT_TRUE(bus.registerListener("x", {571, 37, 90, 572}));
    EXPECT_EQ(J(R"([{"client":"x","mids":[90,571,150,37,572]},{"client":"y","mids":[63]}])"),
              bus.listenersJson());

    bus.unregisterListener("x", {571, 37});
    EXPECT_EQ((std::vector<int32_t>{90, 150, 572}), bus.midsOf("x"));
    std::vector<BusAlert> alerts;
    ASSERT_TRUE(bus.write("", Origin::App, Scope::Remote, 571, "gone", &alerts));
    EXPECT_TRUE(alerts.empty());

    // A client left without MIDs disappears from the listing; a dropped one too.
    bus.unregisterListener("y", {63});
    bus.dropClient("x");
    EXPECT_EQ(J("[]"), bus.listenersJson());
}

TEST(ModelBus, UnreachableBusRefusesEverything) {
    World world;
    MessageBus& bus = world.bus();
    bus.setReachable(false);
    std::string payload = "untouched";
    std::vector<BusAlert> alerts;
    EXPECT_FALSE(bus.registerListener("x", {90}));
    EXPECT_FALSE(bus.write("x", Origin::Daemon, Scope::Remote, 90, "lost", &alerts));
    EXPECT_FALSE(bus.read(90, &payload));
    EXPECT_EQ("untouched", payload);
    EXPECT_EQ(J("[]"), bus.logJson());

    bus.setReachable(true);
    EXPECT_TRUE(bus.read(90, &payload));
    EXPECT_EQ("", payload);
}

TEST(ModelBus, ReadAndLogHaveTheControlInterfaceShape) {
    World world;
    MessageBus& bus = world.bus();
    ASSERT_TRUE(bus.write("", Origin::App, Scope::Remote, 571, "{\"a\":1}", nullptr));
    ASSERT_TRUE(bus.write("vemo-1", Origin::Daemon, Scope::Local, 90, "Kitchen", nullptr));
    EXPECT_EQ(J(R"({"mid":571,"payload":"{\"a\":1}"})"), bus.readJson(571));
    EXPECT_EQ(J(R"({"mid":5,"payload":""})"), bus.readJson(5));
    EXPECT_EQ(J(R"([
        {"seq":1,"mid":571,"payload":"{\"a\":1}","from":"app","scope":"remote"},
        {"seq":2,"mid":90,"payload":"Kitchen","from":"daemon","scope":"local"}])"),
              bus.logJson());
}

}  // namespace
}  // namespace orvix::model
