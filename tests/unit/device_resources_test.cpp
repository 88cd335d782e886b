// Who owns the speaker: grant, release, source switch and the graceful clean-up.
#include <map>

#include "tests/unit/DeviceTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::test::DeviceTest;

namespace {

NowPlayingInfo Playing(const std::string& track) {
    NowPlayingInfo info;
    info.trackName = track;
    info.artist = "Artist";
    info.totalTime = 1000.0;
    return info;
}

}  // namespace

TEST_F(DeviceTest, GrantReleaseAndSwitchFollowTheOwnershipTable) {
    startDevice();

    // Granted from any state: the flag clears and cast starts at the device's volume.
    gSourceSwitched = true;
    Fakes().appWrite(kMidVolume, "47");
    uint64_t m = mark();
    Fakes().castRequestResources();
    settleAll();
    EXPECT_EQ(since(m),
              (std::vector<std::string>{"source:PlayMySource[24]", "cast:GrantResources[]",
                                        "cast:CastCliSyncVolume[47]"}));
    EXPECT_FALSE(gSourceSwitched);
    EXPECT_TRUE(mLog.has("castcontroller: handleOnRequestResources() called ++, TID:", LOG_INFO));

    // Released without a switch: UI emptied, record reset, cast leaves the service.
    CastControllerPeer::setNowPlaying(*mController, Playing("Song"));
    m = mark();
    Fakes().castReleaseResources();
    settleAll();
    EXPECT_EQ(since(m), (std::vector<std::string>{"ui:clear", "source:DisconnectMySource[]"}));
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "");
    EXPECT_TRUE(mLog.has("castcontroller: handleOnReleaseResources() called ++, TID:", LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: releaseResourceCallback() source switch ? NO", LOG_INFO));

    // Switched away, twice: each notification reports idle and revokes again.
    m = mark();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(Fakes().sourceSwitch());
        settleAll();
    }
    EXPECT_EQ(since(m),
              (std::vector<std::string>{"source:UpdatePlayerState[1]", "cast:RevokeResources[]",
                                        "source:UpdatePlayerState[1]", "cast:RevokeResources[]"}));
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_EQ(mLog.count("castcontroller: OnSourceSwitchEvent() Source Switched!!", LOG_INFO), 2u);
    EXPECT_EQ(mLog.count("castcontroller: HandleSourceSwitchEvent() called ++, TID:", LOG_INFO),
              2u);
    EXPECT_EQ(mLog.count("castcontroller: HandleSourceSwitchEvent() requested cast to revoke "
                         "resources!",
                         LOG_INFO),
              2u);

    // Released after the switch, twice: the flag stays, so both end in playback stopped.
    m = mark();
    mLog.clear();
    for (int i = 0; i < 2; ++i) {
        CastControllerPeer::setNowPlaying(*mController, Playing("Other"));
        Fakes().castReleaseResources();
        settleAll();
        EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "");
    }
    EXPECT_EQ(since(m), (std::vector<std::string>{"ui:clear", "source:NotifyPlaybackStopped[]",
                                                  "ui:clear", "source:NotifyPlaybackStopped[]"}));
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_EQ(mLog.count("castcontroller: releaseResourceCallback() source switch ? YES", LOG_INFO),
              2u);

    // A grant after the switch makes the next release a disconnect again.
    Fakes().castRequestResources();
    settleAll();
    EXPECT_FALSE(gSourceSwitched);
    m = mark();
    Fakes().castReleaseResources();
    settleAll();
    EXPECT_EQ(since(m), (std::vector<std::string>{"ui:clear", "source:DisconnectMySource[]"}));
}

TEST_F(DeviceTest, ARefusedGrantGrantsNothingYetAReleaseStillRunsInFull) {
    startDevice();
    gSourceSwitched = true;
    world().source().setGrant(false);
    uint64_t m = mark();
    Fakes().castRequestResources();
    settleAll();
    EXPECT_EQ(since(m), (std::vector<std::string>{"source:PlayMySource[24]"}));
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_TRUE(
        mLog.has("castcontroller: handleOnRequestResources() PlayMySource failed! can't be "
                 "granted resources!",
                 LOG_ERR));

    // The UI being down skips only its update; the record is reset all the same.
    world().ui().setUp(false);
    CastControllerPeer::setNowPlaying(*mController, Playing("Song"));
    m = mark();
    Fakes().castReleaseResources();
    settleAll();
    EXPECT_EQ(since(m), (std::vector<std::string>{"source:NotifyPlaybackStopped[]"}));
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "");
}

TEST_F(DeviceTest, ASwitchWithoutCastControlStillReportsIdleAndSetsTheFlag) {
    startDevice(false);
    uint64_t m = mark();
    ASSERT_TRUE(Fakes().sourceSwitch());
    settleAll();
    EXPECT_EQ(since(m), (std::vector<std::string>{"source:UpdatePlayerState[1]"}));
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_FALSE(mLog.has("requested cast to revoke resources"));
}

TEST_F(DeviceTest, CleanUpEmptiesTheUiOnlyWhileCastOwnsTheSpeaker) {
    startDevice();
    struct Case {
        const char* source;  // MID 50; null: never written
        bool switched;
        bool uiUp;
        bool clears;
        const char* line;
    };
    const Case cases[] = {
        {nullptr, false, true, false, "Current source ID:, Source switch ?:No"},
        {"30", false, true, false, "Current source ID:30, Source switch ?:No"},
        {"24 ", false, true, false, "Current source ID:24 , Source switch ?:No"},
        {" 24", false, true, false, "Current source ID: 24, Source switch ?:No"},
        {"24", true, true, false, "Current source ID:24, Source switch ?:Yes"},
        {"24", false, true, true, "Current source ID:24, Source switch ?:No"},
        {"24", false, false, true, "Current source ID:24, Source switch ?:No"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("source '") + (c.source ? c.source : "(none)") + "' switched " +
                     (c.switched ? "yes" : "no") + (c.uiUp ? "" : ", UI down"));
        if (c.source != nullptr) Fakes().appWrite(kMidCurrentSource, c.source);
        gSourceSwitched = c.switched;
        world().ui().setUp(c.uiUp);
        CastControllerPeer::setNowPlaying(*mController, Playing("Song"));
        uint64_t m = mark();
        mLog.clear();
        postAndSettle(new AMessage(kWhatControlDisconnected));

        std::vector<std::string> expected;
        if (c.clears && c.uiUp) expected.push_back("ui:clear");
        EXPECT_EQ(since(m), expected);
        EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, c.clears ? "" : "Song");
        EXPECT_TRUE(
            mLog.has(std::string("castcontroller: HandleGracefulCleanUp() ") + c.line, LOG_NOTICE));
        EXPECT_EQ(gSourceSwitched.load(), c.switched);
    }
}

TEST_F(DeviceTest, CleanUpWithoutABusClientSeesNoSource) {
    mController = new CastController();
    mController->StartALooper();
    Fakes().appWrite(kMidCurrentSource, "24");
    CastControllerPeer::setNowPlaying(*mController, Playing("Song"));
    mLog.clear();
    postAndSettle(new AMessage(kWhatControlDisconnected));
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleGracefulCleanUp() Current source ID:, Source "
                 "switch ?:No",
                 LOG_NOTICE));
    EXPECT_TRUE(world().ui().updates().empty());
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "Song");
}

// Grants and releases on the library's thread, switches through binder threads and their
// workers, and now-playing updates on the looper, all at once: every event is answered and
// nothing races (the TSan build runs this too).
TEST_F(DeviceTest, GrantReleaseSwitchAndNowPlayingRacingStayConsistent) {
    startDevice();
    constexpr int kRounds = 20;
    uint64_t m = mark();
    for (int i = 0; i < kRounds; ++i) {
        Fakes().castRequestResources();
        ASSERT_TRUE(Fakes().sourceSwitch());
        Fakes().castReleaseResources();
        sp<AMessage> media = new AMessage(kWhatMediaStatus);
        media->setInt32(kKeySessionId, 1);
        media->setInt32(kKeyStreamType, 1);
        media->setDouble(kKeyTotalDuration, 10.0);
        media->setString(kKeyTrackName, ("Track " + std::to_string(i)).c_str());
        media->setTarget(mController->handlerId());
        media->post();
    }
    settleAll();

    std::map<std::string, int> counts;
    for (const std::string& effect : since(m)) ++counts[effect];
    EXPECT_EQ(counts["source:PlayMySource[24]"], kRounds);
    EXPECT_EQ(counts["cast:GrantResources[]"], kRounds);
    EXPECT_EQ(counts["source:UpdatePlayerState[1]"], kRounds);
    EXPECT_EQ(counts["cast:RevokeResources[]"], kRounds);
    EXPECT_EQ(counts["source:NotifyPlaybackStopped[]"] + counts["source:DisconnectMySource[]"],
              kRounds);
    EXPECT_EQ(counts["ui:clear"], kRounds);
}
