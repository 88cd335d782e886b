// Who owns the speaker: grant, release, source switch and the graceful clean-up.
#include <functional>
#include <map>

#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace {

NowPlayingInfo Playing(const std::string& track) {
    NowPlayingInfo info;
    info.trackName = track;
    info.totalTime = 1000.0;
    return info;
}

}  // namespace

TEST_F(DeviceTest, GrantReleaseAndSwitchFollowTheOwnershipTable) {
    startDevice();
    Fakes().appWrite(kMidVolume, "47");
    gSourceSwitched = true;  // granted from any state
    const Names grant = {"source:PlayMySource[24]", "cast:GrantResources[]",
                         "cast:CastCliSyncVolume[47]"};
    const Names disconnect = {"ui:clear", "source:DisconnectMySource[]"};
    const Names switchAway = {"source:UpdatePlayerState[1]", "cast:RevokeResources[]"};
    const Names stopped = {"ui:clear", "source:NotifyPlaybackStopped[]"};
    auto request = [] { Fakes().castRequestResources(); };
    auto release = [] { Fakes().castReleaseResources(); };
    auto switchIt = [] { ASSERT_TRUE(Fakes().sourceSwitch()); };
    const struct {
        std::function<void()> event;
        bool granting, uiUp;  // the service grants; the UI manager is up
        Names effects;
        bool switched, releases;
    } steps[] = {
        // clang-format off
        {request, true, true, grant, false, false},
        {release, true, true, disconnect, false, true},
        // Each switch notification reports idle and revokes again; releases after it keep
        // the flag and end in playback stopped, until a grant clears it.
        {switchIt, true, true, switchAway, true, false},
        {switchIt, true, true, switchAway, true, false},
        {release, true, true, stopped, true, true},
        {release, true, true, stopped, true, true},
        // A refused grant grants nothing; a release still runs in full, the UI down or not.
        {request, false, true, {grant[0]}, true, false},
        {release, true, false, {stopped[1]}, true, true},
        {request, true, true, grant, false, false},
        {release, true, true, disconnect, false, true},
        // clang-format on
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        world().source().setGrant(steps[i].granting);
        world().ui().setUp(steps[i].uiUp);
        CastControllerPeer::setNowPlaying(*mController, Playing("Song"));
        size_t m = mark();
        steps[i].event();
        deliver();
        EXPECT_EQ(since(m), steps[i].effects);
        EXPECT_EQ(gSourceSwitched, steps[i].switched);
        EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName,
                  steps[i].releases ? "" : "Song");
    }
    const std::string prefix = "castcontroller: releaseResourceCallback() source switch ? ";
    EXPECT_EQ(mLog.count(prefix + "NO", LOG_INFO), 2u);
    EXPECT_EQ(mLog.count(prefix + "YES", LOG_INFO), 3u);
    EXPECT_EQ(mLog.count("castcontroller: HandleSourceSwitchEvent() requested cast to revoke "
                         "resources!",
                         LOG_INFO),
              2u);
    EXPECT_TRUE(
        mLog.has("castcontroller: handleOnRequestResources() PlayMySource failed! can't "
                 "be granted resources!",
                 LOG_ERR));
}

TEST_F(DeviceTest, CleanUpEmptiesTheUiOnlyWhileCastOwnsTheSpeaker) {
    startDevice();
    const struct {
        const char* source;  // MID 50; null: never written
        bool switched, uiUp, clears;
        const char* line;
    } cases[] = {
        {nullptr, false, true, false, "Current source ID:, Source switch ?:No"},
        {"30", false, true, false, "Current source ID:30, Source switch ?:No"},
        {"24 ", false, true, false, "Current source ID:24 , Source switch ?:No"},
        {" 24", false, true, false, "Current source ID: 24, Source switch ?:No"},
        {"24", true, true, false, "Current source ID:24, Source switch ?:Yes"},
        {"24", false, true, true, "Current source ID:24, Source switch ?:No"},
        {"24", false, false, true, "Current source ID:24, Source switch ?:No"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("source '") + (c.source ? c.source : "(none)") + "' switched " +
                     (c.switched ? "yes" : "no") + (c.uiUp ? "" : ", UI down"));
        if (c.source != nullptr) Fakes().appWrite(kMidCurrentSource, c.source);
        gSourceSwitched = c.switched;
        world().ui().setUp(c.uiUp);
        CastControllerPeer::setNowPlaying(*mController, Playing("Song"));
        size_t m = mark();
        mLog.clear();
        postAndSettle(new AMessage(kWhatControlDisconnected));
        EXPECT_EQ(since(m), c.clears && c.uiUp ? Names{"ui:clear"} : Names{});
        EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, c.clears ? "" : "Song");
        EXPECT_TRUE(
            mLog.has(std::string("castcontroller: HandleGracefulCleanUp() ") + c.line, LOG_NOTICE));
        EXPECT_EQ(gSourceSwitched.load(), c.switched);
    }
}

// Grants and releases on the library's thread, switches through binder threads and their
// workers, and now-playing updates on the looper, all at once: every event is answered and
// nothing races (the TSan build runs this too).
TEST_F(DeviceTest, GrantReleaseSwitchAndNowPlayingRacingStayConsistent) {
    startDevice();
    constexpr int kRounds = 20;
    size_t m = mark();
    for (int i = 0; i < kRounds; ++i) {
        Fakes().castRequestResources();
        ASSERT_TRUE(Fakes().sourceSwitch());
        Fakes().castReleaseResources();
        sp<AMessage> media = new AMessage(kWhatMediaStatus, mController->handlerId());
        media->setInt32(kKeySessionId, 1);
        media->setInt32(kKeyStreamType, 1);
        media->setDouble(kKeyTotalDuration, 10.0);
        media->setString(kKeyTrackName, ("Track " + std::to_string(i)).c_str());
        media->post();
    }
    deliver();

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

}  // namespace orvix::test
