// The receiver model: refusals, request ids, automatic responses, the cast log and the JSON
// round trip of the records the server sends over its socket.
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

Json::Value args(std::initializer_list<Json::Value> values) {
    Json::Value out(Json::arrayValue);
    for (const Json::Value& v : values) out.append(v);
    return out;
}

TEST(ModelReceiver, RefusalsAndRequestIdNumbering) {
    World world;
    Receiver& r = world.receiver();
    EXPECT_EQ(1, r.call(CastOp::Create, args({"/tmp/cast-control"})).value);
    EXPECT_EQ(1, r.call(CastOp::AcceptTos, args({})).value);
    EXPECT_EQ(2, r.call(CastOp::SetDeviceName, args({"Kitchen"})).value);

    ASSERT_TRUE(r.refuse("SetTimezone"));
    EXPECT_FALSE(r.refuse("NoSuchOp"));
    // A refused request consumes no id; others go on counting.
    EXPECT_EQ(-1, r.call(CastOp::SetTimezone, args({"Europe/Paris"})).value);
    EXPECT_EQ(3, r.call(CastOp::RequestCastStatus, args({})).value);
    EXPECT_EQ(0, r.call(CastOp::CastCliSyncVolume, args({40})).value);

    ASSERT_TRUE(r.refuse("all"));
    EXPECT_EQ(0, r.call(CastOp::Create, args({"/tmp/cast-control"})).value);
    EXPECT_EQ(-1, r.call(CastOp::SendPlayCommand, args({1})).value);
    EXPECT_EQ(-1, r.call(CastOp::GrantResources, args({})).value);
    EXPECT_EQ(0, r.call(CastOp::Suspend, args({7})).value);

    ASSERT_TRUE(r.refuse("none"));
    EXPECT_EQ(4, r.call(CastOp::SetMultizoneDelay, args({Json::Int64(-250000)})).value);
    EXPECT_EQ(5, r.nextRequestId());

    EXPECT_EQ(J(R"([
        {"seq":1,"op":"Create","args":["/tmp/cast-control"],"result":true},
        {"seq":2,"op":"AcceptTos","args":[],"result":1},
        {"seq":3,"op":"SetDeviceName","args":["Kitchen"],"result":2},
        {"seq":5,"op":"SetTimezone","args":["Europe/Paris"],"result":-1},
        {"seq":6,"op":"RequestCastStatus","args":[],"result":3},
        {"seq":7,"op":"CastCliSyncVolume","args":[40],"result":0},
        {"seq":9,"op":"Create","args":["/tmp/cast-control"],"result":false},
        {"seq":10,"op":"SendPlayCommand","args":[1],"result":-1},
        {"seq":11,"op":"GrantResources","args":[],"result":-1},
        {"seq":12,"op":"Suspend","args":[7],"result":null},
        {"seq":14,"op":"SetMultizoneDelay","args":[-250000],"result":4}])"),
              r.logJson());
}

TEST(ModelReceiver, AutoRespondAnswersEveryAcceptedRequest) {
    World world;
    Receiver& r = world.receiver();
    EXPECT_FALSE(r.call(CastOp::AcceptTos, args({})).response);

    r.setAutoRespond(5);
    CastCallOutcome accepted = r.call(CastOp::SetUsageReportOptIn, args({true}));
    ASSERT_TRUE(accepted.response);
    EXPECT_EQ(CastEvent::Kind::Response, accepted.response->kind);
    EXPECT_EQ(2, accepted.response->requestId);
    EXPECT_EQ(5, accepted.response->code);

    // Neither refused requests nor the function API are answered.
    r.refuse("AcceptTos");
    EXPECT_FALSE(r.call(CastOp::AcceptTos, args({})).response);
    EXPECT_FALSE(r.call(CastOp::CastCliInit, args({})).response);

    r.setAutoRespond(std::nullopt);
    EXPECT_FALSE(r.call(CastOp::RequestCastStatus, args({})).response);

    // The answer is on the record, after the call it answers.
    std::vector<CastEventRecord> events = r.events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("OnResponse(2, 5)", events[0].event.describe());
}

TEST(ModelReceiver, StatusAndMediaSurviveTheJsonRoundTrip) {
    CastStatusData status;
    status.name = "Kitchen";
    status.locale = "";
    status.castState = 3;
    status.usageReport = true;
    status.appName = "Radio";
    CastStatusData status2;
    ASSERT_TRUE(fromJson(toJson(status), &status2));
    EXPECT_EQ(status.name, status2.name);
    EXPECT_FALSE(status2.buildNumber);
    EXPECT_EQ(std::optional<std::string>(""), status2.locale);
    EXPECT_EQ(3, status2.castState);
    EXPECT_TRUE(status2.usageReport);
    EXPECT_EQ(status.appName, status2.appName);

    MediaStatusData media;
    media.sessionId = 0;
    media.playerState = 2;
    media.currentTime = 12.7;
    media.mediaInfo = MediaInfoData{2, 183.5, MediaMetadataData()};
    media.mediaInfo->metadata->title = "Song";
    media.mediaInfo->metadata->imageUrl = "http://img/1.png";
    media.mediaInfo->metadata->metadataType = 0;
    MediaStatusData media2;
    ASSERT_TRUE(fromJson(toJson(media), &media2));
    EXPECT_EQ(0, media2.sessionId);
    EXPECT_DOUBLE_EQ(12.7, media2.currentTime);
    ASSERT_TRUE(media2.mediaInfo && media2.mediaInfo->metadata);
    EXPECT_EQ(2, media2.mediaInfo->streamType);
    EXPECT_EQ(std::optional<std::string>("Song"), media2.mediaInfo->metadata->title);
    EXPECT_FALSE(media2.mediaInfo->metadata->artist);
    EXPECT_EQ(0, media2.mediaInfo->metadata->metadataType);

    CastEvent event;
    ASSERT_TRUE(fromJson(toJson(CastEvent::mediaEvent(media)), &event));
    EXPECT_EQ(CastEvent::Kind::Media, event.kind);
    EXPECT_EQ("Song", *event.media.mediaInfo->metadata->title);
    ASSERT_TRUE(fromJson(toJson(CastEvent::response(9, -3)), &event));
    EXPECT_EQ("OnResponse(9, -3)", event.describe());
}

TEST(ModelReceiver, ConversionsRejectBadInputWithoutThrowing) {
    CastStatusData status;
    status.name = "kept";
    MediaStatusData media;
    CastEvent event;
    const char* bad[] = {"[]",
                         "3",
                         R"({"name":[1]})",
                         R"({"castState":"6"})",
                         R"({"usageReport":1})",
                         R"({"castState":1e20})"};
    for (const char* text : bad) {
        EXPECT_FALSE(fromJson(J(text), &status)) << text;
    }
    EXPECT_EQ(std::optional<std::string>("kept"), status.name);
    EXPECT_FALSE(fromJson(J(R"({"mediaInfo":{"metadata":{"title":7}}})"), &media));
    EXPECT_FALSE(fromJson(J(R"({"mediaInfo":"none"})"), &media));
    EXPECT_FALSE(fromJson(J(R"({"event":"explode"})"), &event));
    EXPECT_FALSE(fromJson(J(R"({"event":"response","requestId":"1","code":0})"), &event));
    EXPECT_FALSE(fromJson(J(R"({"event":"status","status":null})"), &event));
    // Missing members take the defaults of the control interface.
    ASSERT_TRUE(fromJson(J(R"({"playerState":3})"), &media));
    EXPECT_EQ(1, media.sessionId);
    EXPECT_EQ(4, media.idleReason);
    EXPECT_FALSE(media.mediaInfo);
}

}  // namespace
}  // namespace orvix::model
