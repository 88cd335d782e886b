// The device side: who owns the speaker, play control, volume and mute both ways, the
// listener's notifications and the device's timezone handed to the receiver.
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/DaemonTest.h"

namespace orvix::test {
namespace {

using android::AMessage;
using android::sp;
using fakes::Fakes;

class DeviceTest : public DaemonTest {
protected:
    // A buffered track on the UI and in the now-playing record.
    bool play(const char* track) {
        sp<AMessage> msg = new AMessage(kWhatMediaStatus);
        msg->setString(kKeyTrackName, track);
        msg->setInt32(kKeyStreamType, 1);
        msg->setDouble(kKeyTotalDuration, 10.0);
        return post(msg);
    }
    std::string track() { return CastControllerPeer::nowPlaying(controller()).trackName; }
    bool volumeEvent(std::optional<int32_t> volume) {
        sp<AMessage> msg = new AMessage(kWhatVolumeEvent);
        if (volume) msg->setInt32(kKeyVolumeEventData, *volume);
        return post(msg);
    }
};

}  // namespace

TEST_F(DeviceTest, GrantReleaseAndSwitchFollowTheOwnershipTable) {
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidVolume, "47");
    gSourceSwitched = true;  // a grant clears it from any state
    const Lines grant = {"source:PlayMySource[24]", "cast:GrantResources[]",
                         "cast:CastCliSyncVolume[47]"};
    const Lines disconnect = {"ui:clear", "source:DisconnectMySource[]"};
    const Lines away = {"source:UpdatePlayerState[1]", "cast:RevokeResources[]"};
    const Lines stopped = {"ui:clear", "source:NotifyPlaybackStopped[]"};
    const struct {
        char event;  // 'G' the receiver asks, 'R' it releases, 'S' the service switches away
        bool granting, uiUp;
        Lines effects;
        bool switched;
    } steps[] = {
        {'G', true, true, grant, false},      {'R', true, true, disconnect, false},
        {'S', true, true, away, true},        {'S', true, true, away, true},
        {'R', true, true, stopped, true},     {'R', true, true, stopped, true},
        {'G', false, true, {grant[0]}, true}, {'R', true, false, {stopped[1]}, true},
        {'G', true, true, grant, false},      {'R', true, true, disconnect, false},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        ASSERT_TRUE(play("Song"));
        world().source().setGrant(steps[i].granting);
        world().ui().setUp(steps[i].uiUp);
        const size_t m = mark();
        if (steps[i].event == 'G') Fakes().castRequestResources();
        if (steps[i].event == 'R') Fakes().castReleaseResources();
        ASSERT_TRUE(steps[i].event != 'S' || Fakes().sourceSwitch());
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("", m), steps[i].effects);
        EXPECT_EQ(gSourceSwitched, steps[i].switched);
        EXPECT_EQ(track(), steps[i].event == 'R' ? "" : "Song");
    }
}

TEST_F(DeviceTest, EachPlayControlWordGivesExactlyItsActions) {
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidCurrentSource, "24");
    const Lines active{"cast:SendPlayCommand[0]", "bus:70=SPEAKER_ACTIVE,24"};
    const Lines stopped{"cast:SendPlayCommand[2]", "bus:70=SPEAKER_INACTIVE,24"};
    const struct {
        const char* word;
        Lines effects;
        bool refuse = false;
    } rows[] = {
        {"PLAY", active},
        {"RESUME", active},
        {"STOP", stopped},
        {"DISCONNECT", stopped},
        {"PAUSE", {"cast:SendPlayCommand[1]"}},
        {"NEXT", {"cast:SendPlayCommand[3]"}},
        {"PREV", {"cast:SendPlayCommand[4]"}},
        {"NETWORKSTOP", {"bus:70=SPEAKER_INACTIVE,24"}},
        // The mute words set cast's mute and the flag only: no mixer, no report.
        {"MUTE", {"cast:CastCliSyncMute[1]"}},
        {"UNMUTE", {"cast:CastCliSyncMute[0]"}},
        // Standby clears the switch flag before the clean-up looks at it.
        {"STANDBYON", {"cast:RevokeResources[]", "ui:clear"}},
        {"play", {}},
        {"resume", {}},
        {"standbyon", {}},
        {"PLAY ", {}},
        {"", {}},
        {"VOLUME", {}},
        // A failed command is logged and the report still goes out.
        {"STOP", {"cast:SendPlayCommand[2]=-1", "bus:70=SPEAKER_INACTIVE,24"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("word '") + row.word + "'");
        ASSERT_TRUE(play("Song"));
        world().receiver().refuse(row.refuse ? "SendPlayCommand" : "none");
        gSourceSwitched = true;
        const size_t m = mark();
        ASSERT_TRUE(Fakes().playControl(row.word));
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("", m), row.effects);
        EXPECT_EQ(gSourceSwitched, row.word != std::string("STANDBYON"));
        EXPECT_EQ(gCastMuted, row.word == std::string("MUTE"));
        EXPECT_EQ(log.has("Failed to Notify cast server, Event STOP resultID -1", LOG_ERR),
                  row.refuse);
    }
    const size_t m = mark();
    controller().sourceSwitchListener()->OnPlayControlEvent(nullptr);
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("", m), Lines{});
}

TEST_F(DeviceTest, WithoutACastControlOnlyTheServiceHearsOfASwitch) {
    world().receiver().refuse("Create");
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidCurrentSource, "24");
    gCastMuted = true;
    const size_t m = mark();
    for (const char* word : {"PLAY", "STOP", "PAUSE", "STANDBYON", "NETWORKSTOP", "MUTE"}) {
        ASSERT_TRUE(Fakes().playControl(word));
    }
    ASSERT_TRUE(Fakes().volume("55"));
    ASSERT_TRUE(Fakes().sourceSwitch());
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("", m), Lines{"source:UpdatePlayerState[1]"});
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_TRUE(gCastMuted);
    EXPECT_FALSE(log.has("requested cast to revoke resources"));
}

TEST_F(DeviceTest, CastVolumeAndMuteReachTheService) {
    ASSERT_TRUE(startDevice());
    const struct {
        char what;  // 'v' volume, 'm' mute
        int32_t value;
        Lines effects;
        bool muted;
    } rows[] = {
        {'v', 57, {"source:UpdateAppVolume[\"57\"]"}, false},
        {'v', 150, {"source:UpdateAppVolume[\"100\"]"}, false},
        {'v', -3, {"source:UpdateAppVolume[\"0\"]"}, false},
        {'v', INT_MIN, {"source:UpdateAppVolume[\"0\"]"}, false},
        {'m', 1, {"source:UpdateAppMuteStat[true]"}, true},
        {'m', 2, {}, true},
        {'m', -1, {}, true},
        {'m', 0, {"source:UpdateAppMuteStat[false]"}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, row.what) + std::to_string(row.value));
        const size_t m = mark();
        if (row.what == 'v') Fakes().castVolume(row.value);
        if (row.what == 'm') Fakes().castMute(row.value);
        Fakes().drain();
        EXPECT_EQ(effects("", m), row.effects);
        EXPECT_EQ(gCastMuted, row.muted);
        EXPECT_EQ(log.has("invalid volume level " + std::to_string(row.value), LOG_ERR),
                  row.effects.empty());
    }
}

TEST_F(DeviceTest, DeviceVolumeTextReachesTheReceiverAsAWholeNumberUpTo100) {
    ASSERT_TRUE(startDevice());
    const struct {
        const char* text;
        int volume;
        const char* error;
    } rows[] = {
        {"42", 42, nullptr},
        {" 42", 42, nullptr},
        {"", 0, nullptr},
        {"100", 100, nullptr},
        {"0", 0, nullptr},
        {nullptr, 0, nullptr},
        {"abc", 30, "conversion Failed"},
        {"42 ", 30, "conversion Failed"},
        {"4x2", 30, "conversion Failed"},
        {"101", 30, "bound check failed"},
        {"-5", 30, "bound check failed"},
        {"4294967338", 30, "bound check failed"},  // 42 once wrapped to 32 bits
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "(null)");
        log.clear();
        const size_t m = mark();
        ASSERT_TRUE(!row.text || Fakes().volume(row.text));
        if (!row.text) controller().sourceSwitchListener()->OnVolumeChangeEvent(nullptr);
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("", m),
                  Lines{"cast:CastCliSyncVolume[" + std::to_string(row.volume) + "]"});
        EXPECT_EQ(log.count("", LOG_ERR), row.error ? 2u : 1u);  // and "Alsa mixer is in UNMUTE"
        EXPECT_TRUE(!row.error || log.has(row.error, LOG_ERR));
    }
    // What reaches the looper otherwise is held to 0..100; no field is 0.
    const size_t m = mark();
    ASSERT_TRUE(volumeEvent(120) && volumeEvent(-7) && volumeEvent(std::nullopt));
    EXPECT_EQ(effects("", m), (Lines{"cast:CastCliSyncVolume[100]", "cast:CastCliSyncVolume[0]",
                                     "cast:CastCliSyncVolume[0]"}));
}

TEST_F(DeviceTest, DeviceVolumeWhileMutedUnmutesCastTheMixerAndTheServiceFirst) {
    // An amixer of our own, first on the path, that records its arguments.
    std::string dir = std::filesystem::temp_directory_path() / "orvix-mixer-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::ofstream(dir + "/amixer") << "#!/bin/sh\necho \"$*\" >> '" << dir << "/calls'\n";
    chmod((dir + "/amixer").c_str(), 0755);
    const std::string path = getenv("PATH");
    setenv("PATH", (dir + ":" + path).c_str(), 1);
    ASSERT_TRUE(startDevice());
    gCastMuted = true;
    const size_t m = mark();
    ASSERT_TRUE(Fakes().volume("55") && Fakes().volume("56"));
    ASSERT_TRUE(deliver());
    setenv("PATH", path.c_str(), 1);
    std::stringstream calls;
    calls << std::ifstream(dir + "/calls").rdbuf();
    std::filesystem::remove_all(dir);
    EXPECT_EQ(calls.str(), "set Master unmute\n");
    EXPECT_EQ(effects("", m), (Lines{"cast:CastCliSyncMute[0]", "source:UpdateAppMuteStat[false]",
                                     "cast:CastCliSyncVolume[55]", "cast:CastCliSyncVolume[56]"}));
    EXPECT_FALSE(gCastMuted);
}

TEST_F(DeviceTest, AnExceptionStopsAtTheEdgeOfALibraryCallbackOrWorker) {
    ASSERT_TRUE(startDevice());
    const auto volume = onVolumeMuteCallback;
    const auto release = releaseResourceCallback;
    onVolumeMuteCallback = [](const int&, const std::string&, VolumeMediaType) {
        throw std::runtime_error("boom");
    };
    releaseResourceCallback = [](bool) { throw std::runtime_error("boom"); };
    Fakes().castVolume(10);
    Fakes().castMute(1);
    Fakes().castReleaseResources();
    Fakes().drain();
    for (const char* who :
         {"handleOnVolumeChanges", "handleOnMuteChanges", "handleOnReleaseResources"}) {
        EXPECT_TRUE(log.waitFor(std::string(who) + "() stopped by an exception: boom", LOG_ERR));
    }
    onVolumeMuteCallback = volume;
    releaseResourceCallback = release;
}

TEST_F(DeviceTest, TheDeviceTimezoneGoesToTheReceiverAndIsRememberedWhenSent) {
    auto announce = [&](const char* zone) {
        setSetting(kTimeZone, zone);
        log.clear();
        const size_t m = mark();
        Fakes().appWrite(kMidOemTimezone, "");
        return deliver() ? effects("cast:", m) : Lines{"missed"};
    };
    startLooperAndBus();
    EXPECT_EQ(announce("Europe/Berlin"), Lines{});
    EXPECT_TRUE(log.has("cast control is unreachable!", LOG_NOTICE));
    ASSERT_TRUE(stop() && start());
    const struct {
        const char* zone;
        bool refuse;
        Lines calls;
        const char* remembered;
    } rows[] = {
        {"", false, {}, ""},
        {"Europe/Berlin", false, {"SetTimezone[\"Europe/Berlin\"]"}, "Europe/Berlin"},
        {"Asia/Tokyo", true, {"SetTimezone[\"Asia/Tokyo\"]=-1"}, "Europe/Berlin"},
    };
    for (const auto& row : rows) {
        world().receiver().refuse(row.refuse ? "SetTimezone" : "none");
        const int32_t id = row.refuse ? -1 : world().receiver().nextRequestId();
        EXPECT_EQ(announce(row.zone), row.calls);
        EXPECT_EQ(CastControllerPeer::timezoneRequestId(controller()), *row.zone ? id : -1);
        EXPECT_EQ(CastControllerPeer::timezone(controller()), row.remembered);
        EXPECT_EQ(log.has("Timezone data is empty! data:''", LOG_ERR), !*row.zone);
    }
    // The daemon only passes the zone on.
    EXPECT_EQ(effects("setting:"), Lines{});
}

}  // namespace orvix::test
