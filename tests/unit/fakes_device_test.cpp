// The fake device services: source-switch calls and notifications through the listener's
// binder decoding on a pool thread, settings, device name and the UI manager lookup.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "platform/android/AMessage.h"
#include "platform/android/BinderPool.h"
#include "platform/device/DeviceInfo.h"
#include "platform/device/EnvItems.h"
#include "platform/device/SourceSwitch.h"
#include "platform/device/UIManager.h"
#include "tests/fakes/FakeWorld.h"

namespace orvix::fakes {
namespace {

using android::sp;

class Listener : public android::BnSourceSwitchListener {
public:
    struct Seen {
        std::string what;
        bool onPool;
        std::thread::id thread;
    };
    void OnSourceSwitchEvent() override { record("switch"); }
    void OnPlayControlEvent(const char* event) override { record(std::string("play ") + event); }
    void OnVolumeChangeEvent(const char* volume) override {
        record(std::string("volume ") + volume);
    }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> guard(mLock);
        return mSeen;
    }

private:
    void record(const std::string& what) {
        std::lock_guard<std::mutex> guard(mLock);
        mSeen.push_back(
            Seen{what, android::BinderPool::OnPoolThread(), std::this_thread::get_id()});
    }
    std::mutex mLock;
    std::vector<Seen> mSeen;
};

class FakesDevice : public ::testing::Test {
protected:
    void SetUp() override { Fakes().reset(); }
    void TearDown() override { Fakes().reset(); }
};

TEST_F(FakesDevice, SourceNotificationsReachTheListenerThroughOnTransactOnAPoolThread) {
    sp<Listener> listener = new Listener();
    // The service knows nobody before a call has passed the listener.
    EXPECT_FALSE(Fakes().sourceSwitch());
    EXPECT_TRUE(android::SourceSwitchClient::PlayMySource(
        listener, android::ISourceSwitchListener::SOURCE_CAST));
    Fakes().world().source().setGrant(false);
    EXPECT_FALSE(android::SourceSwitchClient::PlayMySource(
        listener, android::ISourceSwitchListener::SOURCE_CAST));
    android::SourceSwitchClient::UpdatePlayerState(listener,
                                                   android::ISourceSwitch::PLAYSTATE_PAUSED);
    android::SourceSwitchClient::UpdateAppVolume("57");

    ASSERT_TRUE(Fakes().sourceSwitch());
    Fakes().drain();
    ASSERT_TRUE(Fakes().playControl("PAUSE"));
    Fakes().drain();
    ASSERT_TRUE(Fakes().volume(""));
    Fakes().drain();

    std::vector<Listener::Seen> seen = listener->seen();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("switch", seen[0].what);
    EXPECT_EQ("play PAUSE", seen[1].what);
    EXPECT_EQ("volume ", seen[2].what);
    for (const Listener::Seen& s : seen) {
        EXPECT_TRUE(s.onPool);
        EXPECT_NE(std::this_thread::get_id(), s.thread);
    }
    Json::Value log = Fakes().world().source().logJson();
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ(false, log[1]["result"].asBool());
    EXPECT_EQ(2, log[2]["args"][0].asInt());
    EXPECT_EQ("57", log[3]["args"][0].asString());

    // Reset forgets the listener: nothing holds it but the test.
    Fakes().reset();
    EXPECT_FALSE(Fakes().playControl("PLAY"));
    EXPECT_EQ(1, listener->getStrongCount());
}

TEST_F(FakesDevice, SettingsAndDeviceName) {
    std::string value = "untouched";
    EXPECT_NE(0, GetEnvItemByName(kGoogleCastTOS, value));
    EXPECT_EQ("untouched", value);
    EXPECT_EQ(0, SetEnvItemByName(kGoogleCastTOS, "true"));
    EXPECT_EQ(0, GetEnvItemByName(kGoogleCastTOS, value));
    EXPECT_EQ("true", value);
    EXPECT_EQ("daemon", Fakes().world().settings().logJson()[0]["from"].asString());
    EXPECT_EQ("GoogleCastTOS", Fakes().world().settings().logJson()[0]["key"].asString());

    std::string name = "x";
    EXPECT_EQ(0, getFriendlyName(name));
    EXPECT_EQ("", name);
    Fakes().world().deviceName().setName("Kitchen");
    EXPECT_EQ(0, getFriendlyName(name));
    EXPECT_EQ("Kitchen", name);
}

TEST_F(FakesDevice, UiManagerIsFoundWhileUpAndRecordsFieldsInOrder) {
    sp<android::IServiceManager> sm = android::defaultServiceManager();
    ASSERT_NE(nullptr, sm);
    sp<android::IUIManager> ui =
        android::IUIManager::asInterface(sm->getService(android::IUIManager::kServiceName));
    ASSERT_NE(nullptr, ui);
    EXPECT_EQ(nullptr, sm->getService("orvix.other"));

    sp<android::AMessage> msg = new android::AMessage();
    msg->setString("trackName", "Song");
    msg->setInt32("totalTime", 183000);
    msg->setDouble("ratio", 0.25);
    msg->setString("album", "");
    EXPECT_EQ(android::OK, ui->UpdateMetadata(msg));
    EXPECT_EQ(android::OK, ui->UpdateSourceRelease(new android::AMessage()));
    EXPECT_EQ(R"([{"seq":1,"op":"metadata","fields":{"trackName":"Song","totalTime":183000,)"
              R"("ratio":0.25,"album":""}},{"seq":2,"op":"clear","fields":{}}])",
              Fakes().world().ui().logText());

    Fakes().world().ui().setUp(false);
    EXPECT_EQ(nullptr, sm->getService(android::IUIManager::kServiceName));
    // A reference taken while it was up finds the service gone.
    EXPECT_EQ(android::DEAD_OBJECT, ui->UpdateMetadata(msg));
}

}  // namespace
}  // namespace orvix::fakes
