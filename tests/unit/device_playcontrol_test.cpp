// Play-control words from the device: play commands, speaker-state reports, mute, standby.
#include "tests/unit/DeviceTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::test::DeviceTest;
using orvix::test::RecordingMixer;

namespace {

sp<AMessage> Word(const std::string& word) {
    sp<AMessage> msg = new AMessage(kWhatPlayControl);
    msg->setString(kKeyPlayEventData, word.c_str());
    return msg;
}

const char kFirstLine[] = "castcontroller: HandleOnPlaycontrolEvent() Received Play control event!";

using Effects = std::vector<std::string>;

}  // namespace

TEST_F(DeviceTest, EachWordGivesExactlyItsActions) {
    RecordingMixer mixer;
    ASSERT_TRUE(mixer.ready());
    startDevice();
    const Effects active{"cast:SendPlayCommand[0]", "bus:70=SPEAKER_ACTIVE,24"};
    const Effects stopped{"cast:SendPlayCommand[2]", "bus:70=SPEAKER_INACTIVE,24"};
    const std::vector<std::pair<std::string, Effects>> table = {
        {"PLAY", active},
        {"RESUME", active},
        {"PAUSE", {"cast:SendPlayCommand[1]"}},
        {"STOP", stopped},
        {"DISCONNECT", stopped},
        {"NEXT", {"cast:SendPlayCommand[3]"}},
        {"PREV", {"cast:SendPlayCommand[4]"}},
        {"NETWORKSTOP", {"bus:70=SPEAKER_INACTIVE,24"}},
        {"MUTE", {"cast:CastCliSyncMute[1]"}},
        {"UNMUTE", {"cast:CastCliSyncMute[0]"}},
        {"play", {}},
        {"Play", {}},
        {"resume", {}},
        {"standbyon", {}},
        {"PLAY ", {}},
        {"", {}},
        {"VOLUME", {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE("word '" + row.first + "'");
        uint64_t m = mark();
        mLog.clear();
        postAndSettle(Word(row.first));
        EXPECT_EQ(since(m), row.second);
        EXPECT_TRUE(mLog.has(kFirstLine, LOG_INFO));
        if (row.second.empty()) {
            EXPECT_EQ(mLog.lines().size(), 1u);
        }
    }

    // The rewritten word is the one the log names.
    mLog.clear();
    postAndSettle(Word("RESUME"));
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnPlaycontrolEvent() event found in map is PLAY, "
                 "notify cast server!",
                 LOG_INFO));
    postAndSettle(Word("DISCONNECT"));
    EXPECT_TRUE(mLog.has("event found in map is STOP, notify cast server!", LOG_INFO));

    // The mute words set cast's mute and the flag only: no mixer, no report to the service.
    postAndSettle(Word("MUTE"));
    EXPECT_TRUE(gCastMuted);
    postAndSettle(Word("UNMUTE"));
    EXPECT_FALSE(gCastMuted);
    EXPECT_TRUE(mixer.calls().empty());
}

TEST_F(DeviceTest, StandbyRevokesClearsTheFlagAndCleansUpWithoutACommand) {
    startDevice();
    Fakes().appWrite(kMidCurrentSource, "24");
    gSourceSwitched = true;
    NowPlayingInfo info;
    info.trackName = "Song";
    CastControllerPeer::setNowPlaying(*mController, info);
    uint64_t m = mark();
    postAndSettle(Word("STANDBYON"));

    // The flag is cleared before the clean-up looks at it, so the UI is emptied.
    EXPECT_EQ(since(m), (Effects{"cast:RevokeResources[]", "ui:clear"}));
    EXPECT_FALSE(gSourceSwitched);
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "");
    int standby = mLog.indexOf("castcontroller: Received STANDBY_ON event, notify cast to stop!");
    int cleanup = mLog.indexOf(
        "castcontroller: HandleGracefulCleanUp() Current source ID:24, Source switch ?:No");
    EXPECT_GE(standby, 0);
    EXPECT_GT(cleanup, standby);
    EXPECT_FALSE(mLog.has("event found in map"));
}

TEST_F(DeviceTest, AFailedPlayCommandIsLoggedAndTheReportStillGoesOut) {
    startDevice();
    world().receiver().refuse("SendPlayCommand");
    uint64_t m = mark();
    postAndSettle(Word("DISCONNECT"));
    postAndSettle(Word("PAUSE"));
    EXPECT_EQ(since(m), (Effects{"cast:SendPlayCommand[2]", "bus:70=SPEAKER_INACTIVE,24",
                                 "cast:SendPlayCommand[1]"}));
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnPlaycontrolEvent() Failed to Notify cast "
                 "server, Event STOP resultID -1",
                 LOG_ERR));
    EXPECT_TRUE(mLog.has("Failed to Notify cast server, Event PAUSE resultID -1", LOG_ERR));
}

TEST_F(DeviceTest, WithoutCastControlEveryWordStopsAfterTheFirstLine) {
    startDevice(false);
    gSourceSwitched = true;
    Fakes().appWrite(kMidCurrentSource, "24");
    uint64_t m = mark();
    const char* words[] = {"PLAY", "RESUME",    "PAUSE",       "STOP", "DISCONNECT", "NEXT",
                           "PREV", "STANDBYON", "NETWORKSTOP", "MUTE", "UNMUTE",     "anything"};
    for (const char* word : words) postAndSettle(Word(word));
    EXPECT_TRUE(since(m).empty());
    EXPECT_EQ(mLog.count(kFirstLine, LOG_INFO), std::size(words));
    EXPECT_EQ(mLog.lines().size(), std::size(words));
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_FALSE(gCastMuted);
}
