// Who owns the speaker, the volume in both directions and the device's play-control words,
// through orvixsim: the receiver's callbacks on one side, the source-switch service's
// notifications on the other.
#include "tests/e2e/E2eLogs.h"
#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {
namespace {

class AudioFocusTest : public E2eTest {
protected:
    // Waits until `source log` has count entries for op.
    bool waitSourceOps(const std::string& op, size_t count) {
        return waitJson({"source", "log"},
                        [&](const Json::Value& l) { return WithOp(l, op).size() >= count; });
    }
    bool waitCastOps(const std::string& op, size_t count) {
        return waitJson({"cast", "log"},
                        [&](const Json::Value& l) { return WithOp(l, op).size() >= count; });
    }
};

TEST_F(AudioFocusTest, GrantVolumeBothWaysSwitchAwayAndRelease) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // The device's volume, as its own services keep it on MID 64.
    json({"bus", "write", "64", "45"});

    // A sender asks for the speaker: the service grants it, then the receiver is granted the
    // resources and starts at the device's volume.
    json({"cast", "request-resources"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return LastOp(l, "CastCliSyncVolume")["args"] == ArgList({45});
    }));
    const Json::Value play = LastOp(json({"source", "log"}), "PlayMySource");
    EXPECT_EQ(play["args"], ArgList({24}));
    EXPECT_TRUE(play["result"].asBool());
    Json::Value cast = json({"cast", "log"});
    const Json::Value grant = LastOp(cast, "GrantResources");
    EXPECT_LT(SeqOf(play), SeqOf(grant));
    EXPECT_LT(SeqOf(grant), SeqOf(LastOp(cast, "CastCliSyncVolume")));

    // The device's volume reaches the receiver; nothing was muted, so nothing is unmuted.
    json({"source", "volume", "55"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return LastOp(l, "CastCliSyncVolume")["args"] == ArgList({55});
    }));
    EXPECT_EQ(waitSyslog(
                  "castcontroller: HandleOnVolumeEvent() Alsa mixer is in UNMUTE state")["priority"]
                  .asInt(),
              3);
    EXPECT_TRUE(WithOp(json({"cast", "log"}), "CastCliSyncMute").empty());

    // The receiver's slider reaches the service as text, clamped to 100.
    json({"cast", "volume", "57"});
    json({"cast", "volume", "150"});
    ASSERT_TRUE(waitSourceOps("UpdateAppVolume", 2));
    const std::vector<Json::Value> volumes = ArgsOf(json({"source", "log"}), "UpdateAppVolume");
    EXPECT_EQ(volumes[0], ArgList({"57"}));
    EXPECT_EQ(volumes[1], ArgList({"100"}));

    // Muted from the sender, a device volume change unmutes everything before it applies.
    json({"cast", "mute", "1"});
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& l) {
        return LastOp(l, "UpdateAppMuteStat")["args"] == ArgList({true});
    }));
    json({"source", "volume", "20"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return LastOp(l, "CastCliSyncVolume")["args"] == ArgList({20});
    }));
    cast = json({"cast", "log"});
    const Json::Value unmute = LastOp(cast, "CastCliSyncMute");
    const Json::Value unmuted = LastOp(json({"source", "log"}), "UpdateAppMuteStat");
    EXPECT_EQ(unmute["args"], ArgList({0}));
    EXPECT_EQ(unmuted["args"], ArgList({false}));
    EXPECT_LT(SeqOf(unmute), SeqOf(unmuted));
    EXPECT_LT(SeqOf(unmuted), SeqOf(LastOp(cast, "CastCliSyncVolume")));
    EXPECT_EQ(readFile(mDir + "/amixer.log"), "set Master unmute\n");

    // Another source takes the speaker: cast is reported idle and its resources revoked; the
    // receiver's release then tells the service that playback stopped.
    json({"source", "switch"});
    ASSERT_TRUE(waitCastOp("RevokeResources"));
    EXPECT_EQ(LastOp(json({"source", "log"}), "UpdatePlayerState")["args"], ArgList({1}));
    EXPECT_FALSE(
        waitSyslog("castcontroller: HandleSourceSwitchEvent() requested cast to revoke resources!")
            .isNull());
    json({"cast", "release-resources"});
    ASSERT_TRUE(waitSourceOps("NotifyPlaybackStopped", 1));
    EXPECT_FALSE(
        waitSyslog("castcontroller: releaseResourceCallback() source switch ? YES").isNull());
    EXPECT_TRUE(WithOp(json({"source", "log"}), "DisconnectMySource").empty());
    ASSERT_TRUE(waitJson({"ui", "log"}, [](const Json::Value& l) {
        return l.size() == 1 && l[0]["op"].asString() == "clear";
    }));

    // A new grant forgets the switch: the next release disconnects instead.
    json({"cast", "request-resources"});
    ASSERT_TRUE(waitCastOps("GrantResources", 2));
    json({"cast", "release-resources"});
    ASSERT_TRUE(waitSourceOps("DisconnectMySource", 1));
    EXPECT_EQ(WithOp(json({"source", "log"}), "NotifyPlaybackStopped").size(), 1u);
}

TEST_F(AudioFocusTest, PlayControlWordsAndStandby) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    json({"bus", "write", "50", "24"});
    json({"cast", "request-resources"});
    ASSERT_TRUE(waitCastOp("GrantResources"));
    json({"source", "switch"});
    ASSERT_TRUE(waitCastOp("RevokeResources"));

    // Words arrive in order and are handled in order; unknown and lower-case words do nothing.
    for (const char* word : {"PLAY", "RESUME", "PAUSE", "NEXT", "PREV", "STOP", "DISCONNECT",
                             "NETWORKSTOP", "play", "FORWARD", "MUTE", "UNMUTE", "STANDBYON"}) {
        EXPECT_EQ(json({"source", "play-control", word})["text"].asString(), word);
    }
    // Standby is the last word: the clean-up after it is the last thing the words cause.
    const Json::Value cleanUp = waitSyslog(
        "castcontroller: HandleGracefulCleanUp() Current source ID:24, Source switch ?:No");
    ASSERT_FALSE(cleanUp.isNull());
    const Json::Value cast = json({"cast", "log"});
    std::vector<int> commands;
    for (const Json::Value& args : ArgsOf(cast, "SendPlayCommand"))
        commands.push_back(args[0].asInt());
    EXPECT_EQ(commands, (std::vector<int>{0, 0, 1, 3, 4, 2, 2}));
    std::vector<std::string> states;
    for (const Json::Value& w : BusWrites(json({"bus", "log"}), 70)) {
        states.push_back(w["payload"].asString());
    }
    EXPECT_EQ(states, (std::vector<std::string>{"SPEAKER_ACTIVE,24", "SPEAKER_ACTIVE,24",
                                                "SPEAKER_INACTIVE,24", "SPEAKER_INACTIVE,24",
                                                "SPEAKER_INACTIVE,24"}));
    EXPECT_EQ(ArgsOf(cast, "CastCliSyncMute"),
              (std::vector<Json::Value>{ArgList({1}), ArgList({0})}));
    // The mute words touch neither the mixer nor the service.
    EXPECT_TRUE(WithOp(json({"source", "log"}), "UpdateAppMuteStat").empty());
    EXPECT_EQ(readFile(mDir + "/amixer.log"), "");

    // Standby revoked the resources once more, forgot the switch and emptied the UI.
    const auto revokes = WithOp(cast, "RevokeResources");
    ASSERT_EQ(revokes.size(), 2u);
    EXPECT_LT(SeqOf(revokes[1]), SeqOf(cleanUp));
    ASSERT_TRUE(waitJson({"ui", "log"}, [](const Json::Value& l) {
        return l.size() == 1 && l[0]["op"].asString() == "clear";
    }));
    json({"cast", "release-resources"});
    ASSERT_TRUE(waitSourceOps("DisconnectMySource", 1));
    EXPECT_TRUE(WithOp(json({"source", "log"}), "NotifyPlaybackStopped").empty());
}

}  // namespace
}  // namespace orvix::e2e
