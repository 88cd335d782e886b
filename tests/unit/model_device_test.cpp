// The device-side models: source-switch policy and log, UI field order, settings
// persistence, the setup service and the syslog parse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "sim/model/JsonText.h"
#include "sim/model/World.h"

namespace orvix::model {
namespace {

Json::Value J(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(parseJson(text, &v)) << text;
    return v;
}

TEST(ModelSource, GrantPolicyListenerAndLogShape) {
    World world;
    SourceSwitchService& s = world.source();
    // Nobody to notify before a call has passed a listener.
    EXPECT_FALSE(s.sourceSwitch());
    s.updateAppVolume("57");
    EXPECT_FALSE(s.hasListener());

    EXPECT_TRUE(s.playMySource(true, 24));
    s.setGrant(false);
    EXPECT_FALSE(s.playMySource(true, 24));
    s.updatePlayerState(true, 1);
    s.notifyPlaybackStopped(true);
    s.disconnectMySource(true);
    s.updateAppMuteStat(true);

    std::optional<SourceNotification> n = s.playControl("PAUSE");
    ASSERT_TRUE(n);
    EXPECT_EQ(SourceNotification::Kind::PlayControl, n->kind);
    EXPECT_EQ("PAUSE", n->text);
    n = s.volume("42");
    ASSERT_TRUE(n);
    EXPECT_EQ(SourceNotification::Kind::VolumeChange, n->kind);

    EXPECT_EQ(J(R"([
        {"seq":2,"op":"UpdateAppVolume","args":["57"],"result":0},
        {"seq":3,"op":"PlayMySource","args":[24],"result":true},
        {"seq":5,"op":"PlayMySource","args":[24],"result":false},
        {"seq":6,"op":"UpdatePlayerState","args":[1],"result":0},
        {"seq":7,"op":"NotifyPlaybackStopped","args":[],"result":0},
        {"seq":8,"op":"DisconnectMySource","args":[],"result":0},
        {"seq":9,"op":"UpdateAppMuteStat","args":[true],"result":0}])"),
              s.logJson());

    s.reset();
    EXPECT_TRUE(s.grant());
    EXPECT_FALSE(s.hasListener());
}

TEST(ModelUi, FieldsKeepTheirOrderAndTypes) {
    World world;
    UiManager& ui = world.ui();
    ASSERT_TRUE(
        ui.metadata({UiField::string("trackName", "Song"), UiField::int32("totalTime", 183000),
                     UiField::real("ratio", 0.5), UiField::string("album", "")}));
    ui.setUp(false);
    EXPECT_FALSE(ui.clear({}));
    ui.setUp(true);
    ASSERT_TRUE(ui.clear({}));

    // The text keeps the order the fields were set in; the JSON value sorts them.
    EXPECT_EQ(R"([{"seq":1,"op":"metadata","fields":{"trackName":"Song","totalTime":183000,)"
              R"("ratio":0.5,"album":""}},{"seq":4,"op":"clear","fields":{}}])",
              ui.logText());
    Json::Value parsed = J(ui.logText());
    EXPECT_EQ(parsed, ui.logJson());
    std::vector<UiUpdate> updates = ui.updates();
    ASSERT_EQ(2u, updates.size());
    EXPECT_EQ("totalTime", updates[0].fields[1].key);
    EXPECT_EQ(UiField::Type::Int32, updates[0].fields[1].type);
    EXPECT_EQ(UiUpdate::Kind::Clear, updates[1].kind);
}

class ModelSettings : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/orvix-model-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        mDir = dir;
    }
    void TearDown() override {
        std::remove((mDir + "/settings.json").c_str());
        std::remove((mDir + "/other.json").c_str());
        rmdir(mDir.c_str());
    }
    std::string mDir;
};

TEST_F(ModelSettings, PersistsAndLoadsAgain) {
    const std::string path = mDir + "/settings.json";
    {
        World world;
        SettingsStore& s = world.settings();
        // A first start has no file: an empty store.
        ASSERT_TRUE(s.load(path, nullptr));
        s.setPersistPath(path);
        ASSERT_TRUE(s.set("GoogleCastTOS", "true", Origin::Daemon));
        ASSERT_TRUE(s.set("TimeZone", "Europe/Paris \"quoted\"\n", Origin::App));
        ASSERT_TRUE(s.set("GoogleCastTOS", "false", Origin::Daemon));
        EXPECT_EQ(J(R"([
            {"seq":1,"op":"set","key":"GoogleCastTOS","value":"true","from":"daemon"},
            {"seq":2,"op":"set","key":"TimeZone","value":"Europe/Paris \"quoted\"\n","from":"app"},
            {"seq":3,"op":"set","key":"GoogleCastTOS","value":"false","from":"daemon"}])"),
                  s.logJson());
    }
    World world;
    SettingsStore& s = world.settings();
    std::string error;
    ASSERT_TRUE(s.load(path, &error)) << error;
    EXPECT_EQ("false", s.value("GoogleCastTOS"));
    EXPECT_EQ("Europe/Paris \"quoted\"\n", s.value("TimeZone"));
    std::string value = "unchanged";
    EXPECT_FALSE(s.get("kFeatureGoogleCast", &value));
    EXPECT_EQ("unchanged", value);
    EXPECT_EQ(J(R"({"key":"Nope","value":""})"), s.getJson("Nope"));
    // Nothing is left of the temporary file.
    EXPECT_NE(0, access((path + ".tmp").c_str(), F_OK));
}

TEST_F(ModelSettings, BrokenFileLeavesTheStoreAlone) {
    const std::string path = mDir + "/other.json";
    World world;
    SettingsStore& s = world.settings();
    s.set("TimeZone", "UTC", Origin::App);
    for (const char* text : {"{\"TimeZone\":", "[\"a\"]", ""}) {
        std::ofstream(path) << text;
        std::string error;
        EXPECT_FALSE(s.load(path, &error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ("UTC", s.value("TimeZone"));
    }
    // Members that are not strings are skipped, the rest is taken.
    std::ofstream(path) << R"({"TimeZone":"Asia/Tokyo","Odd":3})";
    ASSERT_TRUE(s.load(path, nullptr));
    EXPECT_EQ("Asia/Tokyo", s.value("TimeZone"));
    EXPECT_EQ(1u, s.values().size());
    // A save into a folder that does not exist fails without throwing.
    EXPECT_FALSE(s.save(mDir + "/missing/settings.json", nullptr));
}

TEST(ModelDevice, NameSetupAndSyslog) {
    World world;
    std::string name = "x";
    EXPECT_EQ(0, world.deviceName().get(&name));
    EXPECT_EQ("", name);
    world.deviceName().setName("Kitchen");
    world.deviceName().setStatus(-1);
    EXPECT_EQ(-1, world.deviceName().get(&name));
    EXPECT_EQ("Kitchen", name);

    SetupAnswer a = world.setup().answer("/setup/eureka_info");
    EXPECT_TRUE(a.up);
    EXPECT_EQ(200, a.status);
    EXPECT_EQ("{}", a.body);
    world.setup().setBody("{not json");
    world.setup().setStatus(500);
    world.setup().setUp(false);
    a = world.setup().answer("/setup/eureka_info");
    EXPECT_FALSE(a.up);
    EXPECT_EQ("{not json", a.body);

    SyslogCollector& log = world.syslog();
    EXPECT_TRUE(log.recordDatagram(
        "<142>Mar  5 10:11:12 orvixcast[321]: castcontroller: RegisterWithVemo() Entered \n"));
    EXPECT_TRUE(log.recordDatagram("<11>Dec 15 01:02:03 just text"));
    EXPECT_TRUE(log.recordDatagram("<13>tag: no time"));
    EXPECT_FALSE(log.recordDatagram("no priority"));
    EXPECT_FALSE(log.recordDatagram("<x>bad"));
    Json::Value entries = log.logJson();
    ASSERT_EQ(3u, entries.size());
    entries[0].removeMember("seq");
    EXPECT_EQ(J(R"({"priority":6,"facility":17,"ident":"orvixcast","pid":321,
                    "text":"castcontroller: RegisterWithVemo() Entered "})"),
              entries[0]);
    EXPECT_EQ("", entries[1]["ident"].asString());
    EXPECT_EQ("just text", entries[1]["text"].asString());
    EXPECT_EQ(3, entries[1]["priority"].asInt());
    EXPECT_EQ("tag", entries[2]["ident"].asString());
    EXPECT_EQ(0, entries[2]["pid"].asInt());
}

}  // namespace
}  // namespace orvix::model
