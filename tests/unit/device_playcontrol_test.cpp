// Play-control words from the device, each by way of the listener and one looper message:
// play commands, speaker-state reports, mute, standby; and what is left without a control.
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace {

const char kFirstLine[] = "castcontroller: HandleOnPlaycontrolEvent() Received Play control event!";

}  // namespace

class PlayControlTest : public DeviceTest {
protected:
    void word(const std::string& text) {
        ASSERT_TRUE(Fakes().playControl(text));
        deliver();
    }
};

TEST_F(PlayControlTest, EachWordGivesExactlyItsActions) {
    startDevice();
    const Names active{"cast:SendPlayCommand[0]", "bus:70=SPEAKER_ACTIVE,24"};
    const Names stopped{"cast:SendPlayCommand[2]", "bus:70=SPEAKER_INACTIVE,24"};
    const std::pair<std::string, Names> table[] = {
        // clang-format off
        {"PLAY", active}, {"RESUME", active}, {"STOP", stopped}, {"DISCONNECT", stopped},
        {"PAUSE", {"cast:SendPlayCommand[1]"}}, {"NEXT", {"cast:SendPlayCommand[3]"}},
        {"PREV", {"cast:SendPlayCommand[4]"}}, {"NETWORKSTOP", {"bus:70=SPEAKER_INACTIVE,24"}},
        // The mute words set cast's mute and the flag only: no mixer, no report.
        {"MUTE", {"cast:CastCliSyncMute[1]"}}, {"UNMUTE", {"cast:CastCliSyncMute[0]"}},
        {"play", {}}, {"Play", {}}, {"resume", {}}, {"standbyon", {}}, {"PLAY ", {}}, {"", {}},
        {"VOLUME", {}},
        // clang-format on
    };
    for (const auto& [text, effects] : table) {
        SCOPED_TRACE("word '" + text + "'");
        size_t m = mark();
        mLog.clear();
        word(text);
        EXPECT_EQ(since(m), effects);
        EXPECT_TRUE(mLog.has(kFirstLine, LOG_INFO));
        if (effects.empty()) {
            EXPECT_EQ(
                mLog.texts(),
                (Names{"castcontroller: OnPlayControlEvent() Received event " + text, kFirstLine}));
        }
        EXPECT_EQ(gCastMuted, text == "MUTE");
    }
    // A failed play command is logged and the report still goes out.
    world().receiver().refuse("SendPlayCommand");
    size_t m = mark();
    word("STOP");
    word("PAUSE");
    EXPECT_EQ(since(m), (Names{"cast:SendPlayCommand[2]", "bus:70=SPEAKER_INACTIVE,24",
                               "cast:SendPlayCommand[1]"}));
    for (const char* text : {"STOP", "PAUSE"}) {
        EXPECT_TRUE(mLog.has(std::string("castcontroller: HandleOnPlaycontrolEvent() Failed to "
                                         "Notify cast server, Event ") +
                                 text + " resultID -1",
                             LOG_ERR));
    }
}

TEST_F(PlayControlTest, StandbyRevokesClearsTheFlagAndCleansUpWithoutACommand) {
    startDevice();
    Fakes().appWrite(kMidCurrentSource, "24");
    gSourceSwitched = true;
    NowPlayingInfo info;
    info.trackName = "Song";
    CastControllerPeer::setNowPlaying(*mController, info);
    size_t m = mark();
    word("STANDBYON");
    // The flag is cleared before the clean-up looks at it, so the UI is emptied.
    EXPECT_EQ(since(m), (Names{"cast:RevokeResources[]", "ui:clear"}));
    EXPECT_FALSE(gSourceSwitched);
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "");
    int standby = mLog.indexOf("castcontroller: Received STANDBY_ON event, notify cast to stop!");
    EXPECT_GE(standby, 0);
    EXPECT_GT(mLog.indexOf("castcontroller: HandleGracefulCleanUp() Current source ID:24, Source "
                           "switch ?:No"),
              standby);
    EXPECT_FALSE(mLog.has("event found in map"));
}

TEST_F(PlayControlTest, WithoutACastControlOnlyTheServiceHearsOfASwitch) {
    startDevice(false);
    gSourceSwitched = true;
    Fakes().appWrite(kMidCurrentSource, "24");
    const char* words[] = {"PLAY", "RESUME",    "PAUSE",       "STOP", "DISCONNECT", "NEXT",
                           "PREV", "STANDBYON", "NETWORKSTOP", "MUTE", "UNMUTE",     "anything"};
    for (const char* text : words) word(text);
    EXPECT_EQ(mLog.count(kFirstLine, LOG_INFO), std::size(words));
    EXPECT_EQ(mLog.lines().size(), 2 * std::size(words));  // and the listener's own lines
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_FALSE(gCastMuted);
    EXPECT_EQ(since(0, "cast:"), Names{"cast:Create[\"/tmp/cast-control\"]"});
    EXPECT_EQ(since(0, "bus:"), Names{});

    // A switch still reports idle and sets the flag; there is nothing to revoke.
    gSourceSwitched = false;
    size_t m = mark();
    ASSERT_TRUE(Fakes().sourceSwitch());
    deliver();
    EXPECT_EQ(since(m), Names{"source:UpdatePlayerState[1]"});
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_FALSE(mLog.has("requested cast to revoke resources"));
}

}  // namespace orvix::test
