// The fake cast library: the control over the receiver model, observer events and callback
// variables on the cast library thread, in order.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>

#include "platform/cast/CastCli.h"
#include "platform/cast/CastControl.h"
#include "tests/fakes/FakeWorld.h"

namespace orvix::fakes {
namespace {

std::string Text(const char* s) {
    return s ? std::string("\"") + s + "\"" : "null";
}

// What the observer saw, one line per call, and on which threads.
class Observer : public chromecast::CastControl::Observer {
public:
    void OnControlConnected() override { record("connected"); }
    void OnControlDisconnected() override { record("disconnected"); }
    void OnResponse(int32_t id, int32_t code) override {
        record("response " + std::to_string(id) + " " + std::to_string(code));
    }
    void OnCastStatus(const chromecast::CastStatus& s) override {
        record("status " + Text(s.name) + " " + Text(s.buildNumber) + " " + Text(s.locale) + " " +
               Text(s.timezone) + " " + std::to_string(s.castState) + " " +
               std::to_string(s.usageReport) + " " +
               (s.runningApp ? Text(s.runningApp->appName) : "no-app"));
    }
    void OnMediaStatus(const chromecast::MediaStatus& m) override {
        std::string line = "media " + std::to_string(m.mediaSessionId) + " " +
                           std::to_string(m.playerState) + " " +
                           std::to_string(static_cast<int>(m.currentTime * 10)) + " " +
                           std::to_string(m.idleReason);
        if (m.mediaInfo) {
            line += " info " + std::to_string(m.mediaInfo->streamType) + " " +
                    std::to_string(static_cast<int>(m.mediaInfo->duration));
            if (const chromecast::MediaMetadata* md = m.mediaInfo->metadata) {
                line += " meta " + Text(md->title) + " " + std::to_string(md->metadataType) + " " +
                        std::to_string(md->imageCount) + " " +
                        (md->imageCount > 0 ? Text(md->images[0].url) : "-") + " " +
                        Text(md->musicTrack->artist) + " " + Text(md->musicTrack->albumName);
            }
        }
        record(line);
    }

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(mLock);
        return mLines;
    }
    bool allOn(std::thread::id notThis) {
        std::lock_guard<std::mutex> guard(mLock);
        for (const std::thread::id& t : mThreads) {
            if (t == notThis || t != mThreads.front()) return false;
        }
        return true;
    }

private:
    void record(const std::string& line) {
        std::lock_guard<std::mutex> guard(mLock);
        mLines.push_back(line);
        mThreads.push_back(std::this_thread::get_id());
    }
    std::mutex mLock;
    std::vector<std::string> mLines;
    std::vector<std::thread::id> mThreads;
};

// The callback variables are plain C function pointers: they report into one recorder.
std::mutex gCallsLock;
std::vector<std::string> gCalls;
bool gCallsOnCastThread = true;
void Note(const std::string& call) {
    std::lock_guard<std::mutex> guard(gCallsLock);
    gCalls.push_back(call);
    gCallsOnCastThread = gCallsOnCastThread && Fakes().onCastThread();
}

class FakesCast : public ::testing::Test {
protected:
    void SetUp() override {
        Fakes().reset();
        std::lock_guard<std::mutex> guard(gCallsLock);
        gCalls.clear();
        gCallsOnCastThread = true;
    }
    void TearDown() override { Fakes().reset(); }
};

TEST_F(FakesCast, ObserverEventsArriveInOrderOnTheCastThreadWithNullMembersKept) {
    Observer observer;
    Fakes().world().receiver().refuse("Create");
    EXPECT_EQ(nullptr, chromecast::CastControl::Create("/tmp/cast-control", &observer));
    EXPECT_FALSE(Fakes().castConnect());
    Fakes().world().receiver().refuse("none");
    std::unique_ptr<chromecast::CastControl> control(
        chromecast::CastControl::Create("/tmp/cast-control", &observer));
    ASSERT_NE(nullptr, control);

    EXPECT_TRUE(Fakes().castConnect());
    model::CastStatusData status;
    status.name = "Kitchen";
    status.timezone = "";
    EXPECT_TRUE(Fakes().castStatus(status));
    status.appName = "Radio";
    status.castState = 1;
    status.usageReport = true;
    Fakes().castStatus(status);
    model::MediaStatusData media;
    media.playerState = 3;
    media.currentTime = 40.2;
    Fakes().castMedia(media);
    media.sessionId = 0;
    media.mediaInfo = model::MediaInfoData{1, 183.0, model::MediaMetadataData()};
    media.mediaInfo->metadata->title = "Song";
    media.mediaInfo->metadata->artist = "Band";
    media.mediaInfo->metadata->imageUrl = "http://img/a.png";
    Fakes().castMedia(media);
    media.mediaInfo->metadata->imageUrl.reset();
    Fakes().castMedia(media);
    Fakes().castRespond(7, -2);
    Fakes().castDisconnect();
    Fakes().drain();

    const std::vector<std::string> expected = {
        "connected",
        R"(status "Kitchen" null null "" 6 0 no-app)",
        R"(status "Kitchen" null null "" 1 1 "Radio")",
        "media 1 3 402 4",
        R"(media 0 3 402 4 info 1 183 meta "Song" 3 1 "http://img/a.png" "Band" null)",
        R"(media 0 3 402 4 info 1 183 meta "Song" 3 0 - "Band" null)",
        "response 7 -2",
        "disconnected",
    };
    EXPECT_EQ(expected, observer.lines());
    EXPECT_TRUE(observer.allOn(std::this_thread::get_id()));

    // A destroyed control gets nothing more.
    control.reset();
    EXPECT_FALSE(Fakes().castConnect());
    Fakes().drain();
    EXPECT_EQ(expected.size(), observer.lines().size());
    Json::Value log = Fakes().world().receiver().logJson();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(false, log[0]["result"].asBool());
    EXPECT_EQ("/tmp/cast-control", log[1]["args"][0].asString());
}

TEST_F(FakesCast, OperationsFollowTheReceiverPolicyAndAutoRespond) {
    Observer observer;
    std::unique_ptr<chromecast::CastControl> control(
        chromecast::CastControl::Create("/tmp/cast-control", &observer));
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(1, control->SetDeviceName("Kitchen"));
    Fakes().world().receiver().setAutoRespond(0);
    EXPECT_EQ(2, control->AcceptTos());
    Fakes().world().receiver().refuse("SetTimezone");
    EXPECT_EQ(-1, control->SetTimezone("Europe/Paris"));
    EXPECT_EQ(3, control->SetMultizoneDelay(-1500));
    control->Suspend(7);
    Fakes().drain();
    EXPECT_EQ((std::vector<std::string>{"response 2 0", "response 3 0"}), observer.lines());

    Json::Value log = Fakes().world().receiver().logJson();
    ASSERT_EQ(6u, log.size());
    EXPECT_EQ(-1500, log[4]["args"][0].asInt64());
    EXPECT_EQ("Suspend", log[5]["op"].asString());
    EXPECT_EQ(7, log[5]["args"][0].asInt());
}

TEST_F(FakesCast, FunctionApiRecordsAndCallbackVariablesRunOnTheCastThread) {
    // Null variables: nothing happens, nothing breaks.
    Fakes().castReady();
    Fakes().castVolume(5);
    Fakes().drain();

    OnCastCliReady = [] { Note("ready"); };
    OnRequestResources = [] { Note("request"); };
    OnReleaseResources = [] { Note("release"); };
    OnCastCliVolumeChange = [](int v) { Note("volume " + std::to_string(v)); };
    OnCastCliMuteChange = [](int m) { Note("mute " + std::to_string(m)); };
    Fakes().castReady();
    Fakes().castRequestResources();
    Fakes().castVolume(40);
    Fakes().castMute(1);
    Fakes().castReleaseResources();
    Fakes().drain();
    {
        std::lock_guard<std::mutex> guard(gCallsLock);
        EXPECT_EQ((std::vector<std::string>{"ready", "request", "volume 40", "mute 1", "release"}),
                  gCalls);
        EXPECT_TRUE(gCallsOnCastThread);
    }

    EXPECT_EQ(0, CastCliInit());
    EXPECT_EQ(0, CastCliSyncVolume(30));
    Fakes().world().receiver().refuse("GrantResources");
    EXPECT_EQ(-1, GrantResources());
    EXPECT_EQ(0, CastCliSyncMute(1));
    Json::Value log = Fakes().world().receiver().logJson();
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ("CastCliSyncVolume", log[1]["op"].asString());
    EXPECT_EQ(30, log[1]["args"][0].asInt());
    EXPECT_EQ(-1, log[2]["result"].asInt());

    // Reset puts the variables back to null.
    Fakes().reset();
    EXPECT_EQ(nullptr, OnCastCliReady);
    EXPECT_EQ(nullptr, OnCastCliMuteChange);
}

}  // namespace
}  // namespace orvix::fakes
