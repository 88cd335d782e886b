#include <gtest/gtest.h>

#include "platform/DeviceServices.h"
#include "platform/android/BinderPool.h"
#include "platform/android/ProcessState.h"
#include "platform/host/DeviceLink.h"
#include "tests/host/TestServer.h"

namespace orvix::hosttest {
namespace {

using namespace android;

// Reads answer "stored-<mid>"; everything else true.
Answer Device(const Request& r) {
    Answer a;
    a.result = r.op == "bus.read" ? Json::Value("stored-" + r.args["mid"].asString()) : true;
    return a;
}

// Records what a bus client delivers; a 571 alert also reads MID 90 from inside the alert.
struct RecordingAlerts : public IVemoAlerts {
    void MessageBoxAlert(int32_t mid) override {
        std::string payload;
        std::string line = std::to_string(mid) + ":";
        line += bus->readRemoteMessage(mid, payload) == 0 ? payload : "?";
        if (mid == 571 && bus->readRemoteMessage(90, payload) == 0) line += "+" + payload;
        lines.add(line);
    }
    void MessageBoxStatus(int32_t status) override {
        lines.add("status " + std::to_string(status));
    }
    VEMOHelper* bus = nullptr;
    Lines lines;
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

TEST(DeviceClientsTest, BusAlertsCarryTheirPayloadAndAReconnectRegistersInFirstOrder) {
    TestServer server(host::DeviceSocketPath(), Device);
    VEMOHelper bus;
    ASSERT_TRUE(bus.verifyConnection_l());
    sp<RecordingAlerts> alerts = new RecordingAlerts();
    alerts->bus = &bus;
    Vector<int32_t> mids;
    mids.add(571);
    mids.add(90);
    EXPECT_EQ(0, bus.registerListener(alerts, mids));
    server.send(ParseJson(R"({"event":"bus.alert","mid":571,"payload":"first"})"));
    server.send(ParseJson(R"({"event":"bus.alert","mid":571,"payload":"second"})"));
    server.send(ParseJson(R"({"event":"bus.alert","mid":90,"payload":"name"})"));
    server.send(ParseJson(R"({"event":"bus.alert","mid":37,"payload":"unregistered"})"));
    // A wrongly typed alert ends the connection; the client comes back and registers again.
    server.send(ParseJson(R"({"event":"bus.alert","mid":571,"payload":5})"));
    ASSERT_TRUE(WaitFor([&] { return server.requests("bus.register").size() == 2; }));
    for (const Request& r : server.requests("bus.register")) {
        EXPECT_EQ(ParseJson(R"({"mids":[571,90]})"), r.args);
    }
    server.send(ParseJson(R"({"event":"bus.alert","mid":90,"payload":"again"})"));
    ASSERT_TRUE(WaitFor([&] { return alerts->lines.get().size() == 6; }));
    EXPECT_EQ((std::vector<std::string>{"571:first+stored-90", "571:second+stored-90", "90:name",
                                        "status 0", "status 1", "90:again"}),
              alerts->lines.get());
}

TEST(DeviceClientsTest, SourceSwitchNotificationsArriveInOrderOnBinderPoolThreads) {
    ProcessState::self()->startThreadPool();
    TestServer server(host::DeviceSocketPath(), Device);
    sp<RecordingListener> listener = new RecordingListener();
    // The shared link may still be reconnecting after another test's server.
    ASSERT_TRUE(WaitFor([&] {
        return SourceSwitchClient::PlayMySource(listener, ISourceSwitchListener::SOURCE_CAST);
    }));
    ASSERT_TRUE(WaitFor([&] { return !server.requests("source.listen").empty(); }));
    server.send(ParseJson(R"({"event":"source.switch"})"));
    server.send(ParseJson(R"({"event":"source.play-control","word":"pause"})"));
    server.send(ParseJson(R"({"event":"source.volume","text":"35"})"));
    ASSERT_TRUE(WaitFor([&] { return listener->lines.get().size() == 3; }));
    EXPECT_EQ((std::vector<std::string>{"switch", "play pause", "volume 35"}),
              listener->lines.get());
}

}  // namespace
}  // namespace orvix::hosttest
