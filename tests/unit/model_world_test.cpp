// The World: one sequence across every log and a reset that restores every default; the bus:
// who gets alerts with which payload; the receiver: which calls get a request id and an
// automatic response, and the JSON its records cross the simulator's socket in.
#include <gtest/gtest.h>

#include "sim/model/JsonText.h"
#include "sim/model/World.h"

namespace orvix::model {
namespace {

TEST(ModelWorld, OneSequenceOrdersEveryLog) {
    World world;
    world.bus().write("", Origin::App, Scope::Remote, 571, "req", nullptr);
    world.receiver().call(CastOp::AcceptTos, Json::Value(Json::arrayValue));
    world.source().playMySource(true, 24);
    world.settings().set("GoogleCastTOS", "true", Origin::Daemon);
    world.ui().metadata({UiField::string("trackName", "Song")});
    world.syslog().record(6, 17, "orvixcast", 9, "castobserver: hello");
    const Json::Value logs[] = {world.bus().logJson(),    world.receiver().logJson(),
                                world.source().logJson(), world.settings().logJson(),
                                world.ui().logJson(),     world.syslog().logJson()};
    for (uint64_t i = 0; i < 6; ++i) EXPECT_EQ(i + 1, logs[i][0]["seq"].asUInt64()) << i;
    EXPECT_EQ(6u, world.timeline().size());
}

TEST(ModelWorld, ResetRestoresEveryDefaultButKeepsClientIdsUnique) {
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
    EXPECT_NE(before, world.bus().newClientId());
    world.settings().set("k", "v", Origin::App);
    EXPECT_EQ(1u, world.settings().logJson()[0]["seq"].asUInt64());
}

TEST(ModelBus, AlertsGoToOtherListenersEachWithItsOwnPayloadWhileTheBusIsReachable) {
    World world;
    MessageBus& bus = world.bus();
    const std::string a = bus.newClientId();
    const std::string b = bus.newClientId();
    EXPECT_NE(a, b);
    ASSERT_TRUE(bus.registerListener(a, {90, 571}));
    ASSERT_TRUE(bus.registerListener(b, {571, 150}));
    // Registering again appends only what is new, in the order given.
    ASSERT_TRUE(bus.registerListener(a, {571, 37, 90}));
    EXPECT_EQ((std::vector<int32_t>{90, 571, 37}), bus.midsOf(a));

    std::vector<BusAlert> first;
    std::vector<BusAlert> second;
    ASSERT_TRUE(bus.write("", Origin::App, Scope::Remote, 571, "first", &first));
    ASSERT_TRUE(bus.write("", Origin::App, Scope::Remote, 571, "second", &second));
    ASSERT_EQ(2u, first.size());
    EXPECT_EQ(a, first[0].client);
    EXPECT_EQ(b, first[1].client);
    // A burst keeps every payload in its alert while the bus only holds the last.
    EXPECT_EQ("first", first[1].payload);
    EXPECT_EQ("second", second[0].payload);
    EXPECT_EQ("second", bus.payload(571));

    // The writer is not alerted for its own write; a MID nobody listens to alerts nobody.
    std::vector<BusAlert> alerts;
    ASSERT_TRUE(bus.write(a, Origin::Daemon, Scope::Local, 571, "reply", &alerts));
    ASSERT_EQ(1u, alerts.size());
    EXPECT_EQ(b, alerts[0].client);
    bus.unregisterListener(b, {571});
    for (int32_t mid : {571, 7}) {
        alerts.clear();
        ASSERT_TRUE(bus.write(a, Origin::Daemon, Scope::Remote, mid, "x", &alerts));
        EXPECT_TRUE(alerts.empty()) << mid;
    }

    bus.setReachable(false);
    std::string payload = "untouched";
    EXPECT_FALSE(bus.registerListener(b, {90}));
    EXPECT_FALSE(bus.write(b, Origin::Daemon, Scope::Remote, 90, "lost", nullptr));
    EXPECT_FALSE(bus.read(90, &payload));
    EXPECT_EQ("untouched", payload);
}

TEST(ModelReceiver, RefusedCallsTakeNoRequestIdAndOnlyAcceptedRequestsAreAnswered) {
    struct Row {
        const char* refuse;  // a refusal to set before the call, if any
        CastOp op;
        int32_t value;
        bool answered;
    };
    const Row rows[] = {
        {nullptr, CastOp::Create, 1, false},
        {nullptr, CastOp::AcceptTos, 1, true},
        {"SetTimezone", CastOp::SetTimezone, -1, false},
        {nullptr, CastOp::RequestCastStatus, 2, true},
        {nullptr, CastOp::CastCliSyncVolume, 0, false},
        {"all", CastOp::Create, 0, false},
        {nullptr, CastOp::GrantResources, -1, false},
        {nullptr, CastOp::SendPlayCommand, -1, false},
        {nullptr, CastOp::Suspend, 0, false},
        {"none", CastOp::SetMultizoneDelay, 3, true},
    };
    World world;
    Receiver& r = world.receiver();
    r.setAutoRespond(5);
    for (const Row& row : rows) {
        SCOPED_TRACE(castOpName(row.op));
        ASSERT_TRUE(row.refuse == nullptr || r.refuse(row.refuse));
        const CastCallOutcome outcome = r.call(row.op, Json::Value(Json::arrayValue));
        EXPECT_EQ(row.value, outcome.value);
        EXPECT_EQ(row.answered ? "OnResponse(" + std::to_string(row.value) + ", 5)" : "none",
                  outcome.response ? outcome.response->describe() : "none");
    }
    EXPECT_EQ(4, r.nextRequestId());
    EXPECT_EQ(3u, r.events().size());
    EXPECT_FALSE(r.refuse("NoSuchOp"));
    r.setAutoRespond(std::nullopt);
    EXPECT_FALSE(r.call(CastOp::AcceptTos, Json::Value(Json::arrayValue)).response);
}

TEST(ModelReceiver, RecordsKeepNullApartFromEmptyAndBadInputIsRejectedWithoutThrowing) {
    CastStatusData status;
    status.name = "Kitchen";
    status.locale = "";
    CastEvent back;
    ASSERT_TRUE(fromJson(toJson(CastEvent::statusEvent(status)), &back));
    EXPECT_EQ(std::optional<std::string>("Kitchen"), back.status.name);
    EXPECT_EQ(std::optional<std::string>(""), back.status.locale);
    EXPECT_FALSE(back.status.buildNumber);

    const char* bad[] = {
        R"({"event":"status","status":[]})",
        R"({"event":"status","status":3})",
        R"({"event":"status","status":null})",
        R"({"event":"status","status":{"name":[1]}})",
        R"({"event":"status","status":{"castState":"6"}})",
        R"({"event":"status","status":{"usageReport":1}})",
        R"({"event":"status","status":{"castState":1e20}})",
        R"({"event":"media","media":{"mediaInfo":"none"}})",
        R"({"event":"media","media":{"mediaInfo":{"metadata":{"title":7}}}})",
        R"({"event":"explode"})",
        R"({"event":"response","requestId":"1","code":0})",
    };
    for (const char* text : bad) {
        Json::Value json;
        ASSERT_TRUE(parseJson(text, &json)) << text;
        CastEvent event;
        EXPECT_FALSE(fromJson(json, &event)) << text;
    }
    // Missing members take the defaults of the control interface.
    MediaStatusData media;
    Json::Value json;
    ASSERT_TRUE(parseJson(R"({"playerState":3})", &json));
    ASSERT_TRUE(fromJson(json, &media));
    EXPECT_EQ(1, media.sessionId);
    EXPECT_EQ(4, media.idleReason);
    EXPECT_FALSE(media.mediaInfo);
}

}  // namespace
}  // namespace orvix::model
