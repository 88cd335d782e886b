#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/DeviceServices.h"
#include "platform/android/BinderPool.h"
#include "platform/android/ProcessState.h"
#include "platform/host/DeviceLink.h"
#include "tests/host/TestServer.h"

namespace orvix::hosttest {
namespace {

using namespace android;

struct FakeDevice {
    std::atomic<bool> uiUp{true};

    Answer operator()(const Request& r) const {
        Answer a;
        if (r.op == "bus.verify") a.result = true;
        if (r.op == "bus.read") a.result = "stored-" + std::to_string(r.args["mid"].asInt());
        if (r.op == "env.get") {
            a.result = ParseJson(r.args["key"] == "GoogleCastTOS" ? R"({"set":true,"value":"true"})"
                                                                  : R"({"set":false,"value":""})");
        }
        if (r.op == "name.get") a.result = ParseJson(R"({"status":2,"name":"Kitchen"})");
        if (r.op == "source.call") {
            a.result = r.args["op"] == "PlayMySource" ? Json::Value(true) : Json::Value(3);
        }
        if (r.op == "ui.available") a.result = uiUp.load();
        return a;
    }
};

std::unique_ptr<TestServer> StartDevice(FakeDevice* device) {
    return std::make_unique<TestServer>(host::DeviceSocketPath(),
                                        [device](const Request& r) { return (*device)(r); });
}

// Records what a bus client delivers; a 571 alert also reads MID 90 from inside the alert.
class RecordingAlerts : public IVemoAlerts {
public:
    explicit RecordingAlerts(VEMOHelper* bus) : mBus(bus) {}
    void MessageBoxAlert(int32_t mid) override {
        std::string payload;
        std::string line = std::to_string(mid) + ":";
        line += mBus->readRemoteMessage(mid, payload) == 0 ? payload : "?";
        if (mid == 571 && mBus->readRemoteMessage(90, payload) == 0) line += "+" + payload;
        lines.add(line);
    }
    void MessageBoxStatus(int32_t status) override {
        lines.add("status " + std::to_string(status));
    }
    Lines lines;

private:
    VEMOHelper* const mBus;
};

class RecordingListener : public BnSourceSwitchListener {
public:
    void OnSourceSwitchEvent() override { record("switch"); }
    void OnPlayControlEvent(const char* event) override { record(std::string("play ") + event); }
    void OnVolumeChangeEvent(const char* volume) override {
        record(std::string("volume ") + volume);
    }
    Lines lines;

private:
    void record(const std::string& what) {
        lines.add(what + (BinderPool::OnPoolThread() ? "" : " (not on a pool thread)"));
    }
};

Json::Value Alert(int32_t mid, const Json::Value& payload) {
    Json::Value event;
    event["event"] = "bus.alert";
    event["mid"] = mid;
    event["payload"] = payload;
    return event;
}

TEST(DeviceClientsTest, UnreachableSimulatorFailsTheWayThePlatformDoes) {
    VEMOHelper bus;
    EXPECT_FALSE(bus.verifyConnection_l());
    std::string text = "kept";
    EXPECT_NE(0, bus.readRemoteMessage(90, text));
    EXPECT_NE(0, bus.writeRemoteMessage(49, "1", 0));
    EXPECT_NE(0, GetEnvItemByName(kGoogleCastTOS, text));
    EXPECT_NE(0, getFriendlyName(text));
    EXPECT_EQ("kept", text);
    EXPECT_NE(0, SetEnvItemByName(kTimeZone, "UTC"));
    sp<ISourceSwitchListener> listener = new RecordingListener();
    EXPECT_FALSE(SourceSwitchClient::PlayMySource(listener, ISourceSwitchListener::SOURCE_CAST));
    EXPECT_EQ(-1, SourceSwitchClient::UpdateAppVolume("30"));
    EXPECT_EQ(nullptr, defaultServiceManager()->getService(IUIManager::kServiceName));
}

TEST(DeviceClientsTest, BusAlertsCarryTheirPayloadAndSurviveASimulatorRestart) {
    FakeDevice device;
    auto server = StartDevice(&device);
    VEMOHelper bus;
    ASSERT_TRUE(bus.verifyConnection_l());
    sp<RecordingAlerts> alerts = new RecordingAlerts(&bus);
    Vector<int32_t> mids;
    mids.add(571);
    mids.add(90);
    EXPECT_EQ(0, bus.registerListener(alerts, mids));
    EXPECT_EQ(ParseJson(R"({"mids":[571,90]})"), server->requests("bus.register").at(0).args);

    EXPECT_EQ(0, bus.writeRemoteMessage(49, "12", 0));
    EXPECT_EQ(0, bus.writeLocalMessage(90, "Den"));
    const auto writes = server->requests("bus.write");
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(ParseJson(R"({"mid":49,"payload":"12","scope":"remote","flags":0})"), writes[0].args);
    EXPECT_EQ(ParseJson(R"({"mid":90,"payload":"Den","scope":"local","flags":0})"), writes[1].args);

    const int conn = server->connectionOf("bus.register");
    server->send(conn, Alert(571, "first"));
    server->send(conn, Alert(571, "second"));
    server->send(conn, Alert(90, "name"));
    server->send(conn, Alert(37, "unregistered"));
    ASSERT_TRUE(WaitUntil([&] { return alerts->lines.size() == 3; }));

    // A wrongly typed alert ends the connection; the client comes back and registers again.
    server->send(conn, Alert(571, Json::Value(5)));
    ASSERT_TRUE(WaitUntil([&] { return server->requests("bus.register").size() == 2; }));
    server.reset();
    server = StartDevice(&device);
    ASSERT_TRUE(WaitUntil([&] { return server->connectionOf("bus.register") != -1; }));
    // Registered again in the order they were first registered.
    EXPECT_EQ(ParseJson(R"({"mids":[571,90]})"), server->requests("bus.register").at(0).args);
    server->send(server->connectionOf("bus.register"), Alert(90, "again"));
    ASSERT_TRUE(WaitUntil([&] { return alerts->lines.size() == 8; }));
    EXPECT_EQ(
        (std::vector<std::string>{"571:first+stored-90", "571:second+stored-90", "90:name",
                                  "status 0", "status 1", "status 0", "status 1", "90:again"}),
        alerts->lines.get());
}

TEST(DeviceClientsTest, SourceSwitchNotificationsArriveInOrderOnBinderPoolThreads) {
    ProcessState::self()->startThreadPool();
    FakeDevice device;
    auto server = StartDevice(&device);
    sp<RecordingListener> listener = new RecordingListener();
    // The shared link may still be reconnecting after the previous test's server.
    ASSERT_TRUE(WaitUntil([&] {
        return SourceSwitchClient::PlayMySource(listener, ISourceSwitchListener::SOURCE_CAST);
    }));
    EXPECT_EQ(3, SourceSwitchClient::UpdatePlayerState(listener, ISourceSwitch::PLAYSTATE_PAUSED));
    EXPECT_EQ(3, SourceSwitchClient::UpdateAppVolume("35"));
    EXPECT_EQ(3, SourceSwitchClient::UpdateAppMuteStat(true));
    const auto calls = server->requests("source.call");
    ASSERT_LE(4u, calls.size());
    EXPECT_EQ(ParseJson(R"({"op":"PlayMySource","args":[24]})"), calls[calls.size() - 4].args);
    EXPECT_EQ(ParseJson(R"({"op":"UpdatePlayerState","args":[2]})"), calls[calls.size() - 3].args);
    EXPECT_EQ(ParseJson(R"({"op":"UpdateAppVolume","args":["35"]})"), calls[calls.size() - 2].args);
    EXPECT_EQ(ParseJson(R"({"op":"UpdateAppMuteStat","args":[true]})"), calls.back().args);

    const int conn = server->connectionOf("source.listen");
    ASSERT_NE(-1, conn);
    server->send(conn, ParseJson(R"({"event":"source.switch"})"));
    server->send(conn, ParseJson(R"({"event":"source.play-control","word":"pause"})"));
    server->send(conn, ParseJson(R"({"event":"source.volume","text":"35"})"));
    ASSERT_TRUE(WaitUntil([&] { return listener->lines.size() == 3; }));

    server.reset();
    server = StartDevice(&device);
    // Nobody calls: the link asks for notifications again by itself.
    ASSERT_TRUE(WaitUntil([&] { return server->connectionOf("source.listen") != -1; }));
    server->send(server->connectionOf("source.listen"),
                 ParseJson(R"({"event":"source.volume","text":"40"})"));
    ASSERT_TRUE(WaitUntil([&] { return listener->lines.size() == 4; }));
    EXPECT_EQ((std::vector<std::string>{"switch", "play pause", "volume 35", "volume 40"}),
              listener->lines.get());
}

TEST(DeviceClientsTest, UiManagerSettingsAndDeviceName) {
    FakeDevice device;
    auto server = StartDevice(&device);
    sp<IBinder> binder;
    ASSERT_TRUE(WaitUntil([&] {
        binder = defaultServiceManager()->getService(IUIManager::kServiceName);
        return binder != nullptr;
    }));
    EXPECT_EQ(nullptr, defaultServiceManager()->getService("some.other.service"));
    sp<IUIManager> ui = IUIManager::asInterface(binder);
    ASSERT_NE(nullptr, ui);
    sp<AMessage> msg = new AMessage();
    msg->setString("trackName", "Song");
    msg->setInt32("source", 24);
    msg->setDouble("duration", 12.5);
    EXPECT_EQ(OK, ui->UpdateMetadata(msg));
    EXPECT_EQ(OK, ui->UpdateSourceRelease(new AMessage()));
    const auto updates = server->requests("ui.update");
    ASSERT_EQ(2u, updates.size());
    EXPECT_EQ(ParseJson(R"({"op":"metadata","fields":[
                  {"key":"trackName","type":"string","value":"Song"},
                  {"key":"source","type":"int32","value":24},
                  {"key":"duration","type":"double","value":12.5}]})"),
              updates[0].args);
    EXPECT_EQ(ParseJson(R"({"op":"clear","fields":[]})"), updates[1].args);
    device.uiUp = false;
    EXPECT_EQ(nullptr, defaultServiceManager()->getService(IUIManager::kServiceName));

    std::string value = "kept";
    EXPECT_NE(0, GetEnvItemByName(kTimeZone, value));
    EXPECT_EQ("kept", value);
    EXPECT_EQ(0, GetEnvItemByName(kGoogleCastTOS, value));
    EXPECT_EQ("true", value);
    EXPECT_EQ(0, SetEnvItemByName(kTimeZone, "Europe/Paris"));
    EXPECT_EQ(ParseJson(R"({"key":"TimeZone","value":"Europe/Paris"})"),
              server->requests("env.set").at(0).args);
    EXPECT_EQ(2, getFriendlyName(value));
    EXPECT_EQ("Kitchen", value);
}

}  // namespace
}  // namespace orvix::hosttest
