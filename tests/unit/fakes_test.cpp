// The fakes: bus alerts on the bus thread, each reading the payload of its own write; source
// notifications through the listener's binder decoding on a pool thread; observer events and
// callback variables on the cast library thread, only for the control of the moment.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/android/BinderPool.h"
#include "platform/cast/CastCli.h"
#include "platform/cast/CastControl.h"
#include "platform/device/SourceSwitch.h"
#include "platform/device/VEMOHelper.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fakes/Wait.h"

namespace orvix::fakes {
namespace {

using android::sp;

// What every listener heard, one line a call, marked when it came on the wrong thread. The
// callback variables are plain function pointers, hence a global.
std::mutex gLock;
std::vector<std::string> gHeard;
void Note(const std::string& what, bool rightThread) {
    std::lock_guard<std::mutex> guard(gLock);
    gHeard.push_back(what + (rightThread ? "" : " (on the wrong thread)"));
}
std::vector<std::string> Heard() {
    Fakes().drain();
    std::lock_guard<std::mutex> guard(gLock);
    return std::exchange(gHeard, {});
}
void NoteCast(const std::string& what) {
    Note(what, Fakes().onCastThread());
}

android::Vector<int32_t> Mids(std::initializer_list<int32_t> mids) {
    android::Vector<int32_t> v;
    for (int32_t mid : mids) v.add(mid);
    return v;
}

// Reads the payload of each alert through its helper, as the daemon does; holds an alert
// while `held` is set.
class BusListener : public android::IVemoAlerts {
public:
    explicit BusListener(android::VEMOHelper* helper) : mHelper(helper) {}
    void MessageBoxAlert(int32_t mid) override {
        inAlert = true;
        while (held) std::this_thread::yield();
        std::string payload;
        mHelper->readRemoteMessage(mid, payload);
        Note(payload, Fakes().onBusThread());
    }
    void MessageBoxStatus(int32_t) override {}
    std::atomic<bool> held{false};
    std::atomic<bool> inAlert{false};

private:
    android::VEMOHelper* const mHelper;
};

class SourceListener : public android::BnSourceSwitchListener {
public:
    void OnSourceSwitchEvent() override { Note("switch", android::BinderPool::OnPoolThread()); }
    void OnPlayControlEvent(const char* event) override {
        Note(std::string("play ") + event, android::BinderPool::OnPoolThread());
    }
    void OnVolumeChangeEvent(const char* volume) override {
        Note(std::string("volume ") + volume, android::BinderPool::OnPoolThread());
    }
};

class Observer : public chromecast::CastControl::Observer {
public:
    void OnControlConnected() override { NoteCast("connected"); }
    void OnControlDisconnected() override { NoteCast("disconnected"); }
    void OnResponse(int32_t id, int32_t code) override {
        NoteCast("response " + std::to_string(id) + " " + std::to_string(code));
    }
    void OnCastStatus(const chromecast::CastStatus& s) override {
        NoteCast(std::string("status ") + s.name);
    }
    void OnMediaStatus(const chromecast::MediaStatus& m) override {
        NoteCast("media " + std::to_string(m.playerState));
    }
};

class FakesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fakes().reset();
        Heard();
    }
    void TearDown() override { Fakes().reset(); }
};

TEST_F(FakesTest, AlertReadsItsOwnPayloadOnTheBusThreadEvenAfterALaterWrite) {
    android::VEMOHelper helper;
    sp<BusListener> listener = new BusListener(&helper);
    ASSERT_EQ(0, helper.registerListener(listener, Mids({90, 571})));
    listener->held = true;
    ASSERT_TRUE(Fakes().appWrite(571, "first"));
    ASSERT_TRUE(WaitFor([&] { return listener->inAlert.load(); }));
    // The bus moves on while the first alert is still being handled.
    ASSERT_TRUE(Fakes().appWrite(571, "second"));
    std::string now;
    EXPECT_EQ(0, helper.readRemoteMessage(571, now));
    EXPECT_EQ("second", now);
    listener->held = false;
    // The daemon's own writes do not come back to it.
    EXPECT_EQ(0, helper.writeRemoteMessage(571, "{}", 0));
    EXPECT_EQ(0, helper.writeLocalMessage(90, "Kitchen"));
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), Heard());
}

TEST_F(FakesTest, OtherClientsOfTheDaemonAlertItAndListenersAreLetGoWhenTheyLeave) {
    android::VEMOHelper controller;
    sp<BusListener> listener = new BusListener(&controller);
    ASSERT_EQ(0, controller.registerListener(listener, Mids({90, 572})));
    {
        android::VEMOHelper observer;
        sp<BusListener> gone = new BusListener(&observer);
        ASSERT_EQ(0, observer.registerListener(gone, Mids({90})));
        ASSERT_EQ(0, observer.writeRemoteMessage(90, "Den", 0));
    }
    EXPECT_EQ(std::vector<std::string>{"Den"}, Heard());
    EXPECT_EQ(1u, Fakes().world().bus().listenersJson().size());

    ASSERT_EQ(0, controller.unregisterListener(listener, Mids({90, 572})));
    EXPECT_EQ(0u, Fakes().world().bus().listenersJson().size());
    ASSERT_TRUE(Fakes().appWrite(90, "Attic"));
    EXPECT_TRUE(Heard().empty());
    EXPECT_EQ(1, listener->getStrongCount());
}

TEST_F(FakesTest, SourceNotificationsReachTheListenerOnAPoolThreadUntilAReset) {
    sp<SourceListener> listener = new SourceListener();
    // The service knows nobody before a call has passed the listener.
    EXPECT_FALSE(Fakes().sourceSwitch());
    android::SourceSwitchClient::UpdatePlayerState(listener,
                                                   android::ISourceSwitch::PLAYSTATE_PAUSED);
    // Two pool threads serve the notifications, so only a drain between them keeps an order.
    ASSERT_TRUE(Fakes().sourceSwitch());
    Fakes().drain();
    ASSERT_TRUE(Fakes().playControl("PAUSE"));
    Fakes().drain();
    ASSERT_TRUE(Fakes().volume(""));
    EXPECT_EQ((std::vector<std::string>{"switch", "play PAUSE", "volume "}), Heard());

    // Nothing holds the listener after a reset but the test.
    Fakes().reset();
    EXPECT_FALSE(Fakes().playControl("PLAY"));
    EXPECT_EQ(1, listener->getStrongCount());
}

TEST_F(FakesTest, ObserverEventsAndResponsesReachTheLiveControlInOrderOnTheCastThread) {
    Observer observer;
    std::unique_ptr<chromecast::CastControl> control(
        chromecast::CastControl::Create("/tmp/cast-control", &observer));
    ASSERT_NE(nullptr, control);
    EXPECT_TRUE(Fakes().castConnect());
    model::CastStatusData status;
    status.name = "Kitchen";
    EXPECT_TRUE(Fakes().castStatus(status));
    model::MediaStatusData media;
    media.playerState = 3;
    Fakes().castMedia(media);
    Fakes().castRespond(7, -2);
    Fakes().world().receiver().setAutoRespond(0);
    EXPECT_EQ(1, control->AcceptTos());
    Fakes().castDisconnect();
    EXPECT_EQ((std::vector<std::string>{"connected", "status Kitchen", "media 3", "response 7 -2",
                                        "response 1 0", "disconnected"}),
              Heard());

    // A destroyed control gets nothing more.
    control.reset();
    EXPECT_FALSE(Fakes().castConnect());
    EXPECT_TRUE(Heard().empty());
}

TEST_F(FakesTest, CallbackVariablesRunOnTheCastThreadUntilResetClearsThem) {
    // Null variables: nothing happens, nothing breaks.
    Fakes().castReady();
    Fakes().castVolume(5);
    Fakes().drain();

    OnCastCliReady = [] { NoteCast("ready"); };
    OnRequestResources = [] { NoteCast("request"); };
    OnReleaseResources = [] { NoteCast("release"); };
    OnCastCliVolumeChange = [](int v) { NoteCast("volume " + std::to_string(v)); };
    OnCastCliMuteChange = [](int m) { NoteCast("mute " + std::to_string(m)); };
    Fakes().castReady();
    Fakes().castRequestResources();
    Fakes().castVolume(40);
    Fakes().castMute(1);
    Fakes().castReleaseResources();
    EXPECT_EQ((std::vector<std::string>{"ready", "request", "volume 40", "mute 1", "release"}),
              Heard());

    Fakes().reset();
    EXPECT_TRUE(!OnCastCliReady && !OnRequestResources && !OnReleaseResources &&
                !OnCastCliVolumeChange && !OnCastCliMuteChange);
}

}  // namespace
}  // namespace orvix::fakes
