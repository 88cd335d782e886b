// The daemon's cast and device sides over the shared fixture: what the observer makes of the
// receiver's records, the play position on the bus, the connection and status handling, the
// now-playing record on the UI, the multi-room delay; who owns the speaker, play control,
// volume and mute both ways.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/support/DaemonTest.h"

namespace orvix::test {
namespace {

using android::AMessage;
using android::sp;
using fakes::Fakes;
using fakes::WaitFor;
using model::MediaStatusData;
using Ev = model::CastEvent;
using std::nullopt;
using Opt = std::optional<std::string>;

constexpr int64_t kSecond = 1000000;

model::CastStatusData Status(Opt name, Opt build, bool usage, Opt app, int32_t state = 6) {
    return {std::move(name), std::move(build), "en-US", "Europe/Berlin", state, usage, app, false};
}

MediaStatusData Media(int32_t state, double time = 0.0, int32_t session = 5) {
    return {session, state, time, 4, nullopt};
}

MediaStatusData Track(int32_t state, int32_t stream, double duration, model::MediaMetadataData md) {
    return {5, state, 0.0, 4, model::MediaInfoData{stream, duration, std::move(md)}};
}

using Texts = std::map<std::string, std::string>;
using Numbers = std::map<std::string, double>;

// A looper message: texts as strings, numbers as int32 except the duration, a double.
sp<AMessage> Message(uint32_t what, const Texts& texts, const Numbers& numbers = {}) {
    sp<AMessage> msg = new AMessage(what);
    for (const auto& [key, text] : texts) msg->setString(key.c_str(), text.c_str());
    for (const auto& [key, value] : numbers) {
        key == kKeyTotalDuration ? msg->setDouble(key.c_str(), value)
                                 : msg->setInt32(key.c_str(), static_cast<int32_t>(value));
    }
    return msg;
}

// The UI record, fields in the order the daemon sets them.
std::string Shown(const std::string& track, int32_t ms, std::string cover = "http://art/1.jpg",
                  std::string album = "Album", std::string artist = "Artist") {
    return "metadata{album=\"" + album + "\",artist=\"" + artist + "\",coverArt=\"" + cover +
           "\",playState=0,totalTime=" + std::to_string(ms) + ",trackName=\"" + track +
           "\",next=1,prev=1,repeat=-1,shuffle=-1,seek=0,currentSource=24}";
}

class CastTest : public DaemonTest {
protected:
    // A buffered track on the UI and in the now-playing record.
    bool play(const char* track) {
        return post(Message(kWhatMediaStatus, {{kKeyTrackName, track}},
                            {{kKeyStreamType, 1}, {kKeyTotalDuration, 10.0}}));
    }
    std::string track() { return CastControllerPeer::nowPlaying(controller()).trackName; }
};

}  // namespace

TEST_F(CastTest, CastStatusGoesOnOnlyWhileConnectedWithWhatChanged) {
    ASSERT_TRUE(start());
    tap->swallow({kWhatCastStatus, kWhatCastResponse});
    const auto full = Status("Kitchen", "1.56", true, "Radio");
    // clang-format off
    const struct { char before; model::CastStatusData status; Lines posted; } rows[] = {
        {' ', full, {}}, {'C', Status("Kitchen", "1.56", true, "Radio", 1), {}},
        {' ', full, {R"({cast-name="Kitchen", build-number="1.56", locale="en-US", )"
                     R"(timezone="Europe/Berlin", castapp-name="Radio", usage-report=1})"}},
        {' ', Status("Kitchen", "1.56", true, {}), {}}, {' ', full, {R"({castapp-name="Radio"})"}},
        {' ', Status("", nullopt, true, nullopt), {R"({cast-name=""})"}},
        // Any state above 1 counts, as unsigned.
        {' ', Status(nullopt, nullopt, false, nullopt, -1), {"{usage-report=0}"}},
        {'D', Status("Den", "1.57", true, "Radio"), {}},
        // What was posted is remembered across connections.
        {'C', Status("", "1.56", false, nullopt), {}},
    };
    // clang-format on
    for (const auto& row : rows) {
        if (row.before == 'C') Fakes().cast(Ev::of(Ev::Kind::Connected));
        if (row.before == 'D') Fakes().cast(Ev::of(Ev::Kind::Disconnected));
        Fakes().cast(Ev::statusEvent(row.status));
        ASSERT_TRUE(deliver());
        EXPECT_EQ(tap->take(kWhatCastStatus), row.posted);
    }
    Fakes().cast(Ev::response(7, -3));
    ASSERT_TRUE(deliver());
    EXPECT_EQ(tap->take(kWhatCastResponse), Lines{"{request-id=7, result-msg=-3}"});
}

TEST_F(CastTest, MediaStatusCarriesWhatChangedAndReportsThePlayerState) {
    ASSERT_TRUE(startDevice());
    tap->swallow({kWhatMediaStatus});
    const MediaStatusData noSession = Media(0, 0.0, 0);
    model::MediaMetadataData song{"Song", "B", "A", "AA", "http://i/1", false, 3};
    model::MediaMetadataData clip = song, noUrl{"News", "Anna", nullopt, nullopt, nullopt, true, 3};
    clip.metadataType = 0;
    const std::string news = R"(stream-type=2, total-duration=0, coveart-url="", )"
                             R"(track-name="News", artist-name="Anna"})";
    const std::string img = R"({stream-type=1, total-duration=61.5, coveart-url="http://i/1", )";
    // clang-format off
    const struct { MediaStatusData status; std::string posted; Lines reported; } rows[] = {
        {Media(1), "{player-state=1}", {"UpdatePlayerState[1]"}}, {Media(1), "", {}},
        {Track(1, 2, 0.0, noUrl), "{" + news, {}},
        {Track(3, 2, 0.0, noUrl), "{player-state=3, " + news, {"UpdatePlayerState[2]"}},
        {Media(2), "{player-state=2}", {"UpdatePlayerState[0]"}},
        {Media(5), "{player-state=5}", {"UpdatePlayerState[5]"}},
        {Media(0), "{player-state=0}", {}},
        {noSession, "{session-id=0}", {}}, {noSession, "{session-id=0}", {}},
        {Track(0, 1, 61.5, song),
         img + R"(track-name="Song", album-name="A", album-artist="AA", artist-name="B"})", {}},
        // Metadata of any other type gives its title only.
        {Track(0, 1, 61.5, clip), img + R"(track-name="Song"})", {}},
    };
    // clang-format on
    for (const auto& row : rows) {
        const size_t m = mark();
        Fakes().cast(Ev::mediaEvent(row.status));
        ASSERT_TRUE(deliver());
        EXPECT_EQ(tap->take(kWhatMediaStatus), row.posted.empty() ? Lines{} : Lines{row.posted});
        EXPECT_EQ(effects("source:", m), row.reported);
    }
    EXPECT_EQ(log.count("playback state UNKNOWN", LOG_INFO), 1u);
}

TEST_F(CastTest, PlayPositionIsPublishedEverySecondWhilePlaying) {
    useManualClock();
    ASSERT_TRUE(start());
    // 'm' a media status at a time, 'a' the clock advanced, 'd' a disconnect; then what
    // follows on MID 49 (a later row's write shows that nothing else came first). The media
    // status at 30.2 is a seek: the next write starts there.
    // clang-format off
    const struct { char op; int32_t state; double value; const char* write; } steps[] = {
        {'m', 2, 12.7, "12000"}, {'a', 0, 1, "13000"}, {'m', 2, 30.2, ""}, {'a', 0, 1, "30000"},
        {'m', 3, 40.2, ""}, {'a', 0, 1, "40000"}, {'a', 0, 5, ""}, {'m', 2, 0.0, ""},
        {'m', 2, 7.5, "7000"}, {'m', 3, -4.0, ""}, {'a', 0, 1, "0"}, {'m', 2, 5.0, "5000"},
        {'d', 0, 0, ""}, {'a', 0, 1, "6000"}, {'a', 0, 1, ""}, {'m', 2, 9.0, "9000"},
    };
    // clang-format on
    Lines want;
    for (const auto& step : steps) {
        if (step.op == 'm') Fakes().cast(Ev::mediaEvent(Media(step.state, step.value)));
        if (step.op == 'd') Fakes().cast(Ev::of(Ev::Kind::Disconnected));
        ASSERT_TRUE(deliver());
        if (step.op == 'a') clock.advance(static_cast<int64_t>(step.value) * kSecond);
        if (*step.write) want.push_back(step.write);
        ASSERT_TRUE(WaitFor([&] { return effects("bus:49=") == want; })) << step.op << step.value;
    }
}

TEST_F(CastTest, DisconnectGivesTheSpeakerBackAndEmptiesTheUiOnlyWhileCastHasIt) {
    ASSERT_TRUE(startDevice());
    const Lines back = {"UpdatePlayerState[1]", "DisconnectMySource[]"};
    // clang-format off
    const struct { const char* source; bool switched, uiUp; Lines given, ui; } rows[] = {
        {"", false, true, {}, {}}, {"0", false, true, {}, {}}, {"30", false, true, {}, {}},
        {"24 ", false, true, {}, {}}, {"24", true, true, back, {}},
        {"24", false, true, back, {"clear"}}, {"24", false, false, back, {}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("source '") + row.source + "'");
        ASSERT_TRUE(play(row.source));
        Fakes().appWrite(kMidCurrentSource, row.source);
        gSourceSwitched = row.switched;
        world().ui().setUp(row.uiUp);
        const size_t m = mark();
        Fakes().cast(Ev::of(Ev::Kind::Disconnected));
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("source:", m), row.given);
        EXPECT_EQ(effects("ui:", m), row.ui);
        EXPECT_EQ(track(), row.given.size() && !row.switched ? "" : row.source);
        // No source and source 0 are told apart from the others only by the log.
        EXPECT_EQ(log.count(std::string("Current Source : ") + row.source + ", ignore", LOG_NOTICE),
                  *row.source == '\0' || row.source == std::string("0"));
    }
}

TEST_F(CastTest, ConnectionNamesTheReceiverAndAsksForTheDelayAndTheStatus) {
    useManualClock();
    clock.setAutoAdvance(true);
    ASSERT_TRUE(start());
    tap->swallow({kWhatMultizoneDelay, kWhatTriggerCastStatus});
    const Lines zero = {R"({multizone-delay="0"})"};
    // The bus's name, the device's name and status, the stored delay, the receiver refusing
    // names, the delay's request id and the version known: the calls, sleeps and follow-ups.
    // clang-format off
    const struct { const char *bus, *device; int status; const char* latency; bool refuse;
                   int32_t delayId; const char *version, *name; size_t calls, sleeps; Lines delay;
    } rows[] = {
        {"Living Room", "Den", 0, "", false, -1, "", "Living Room", 1, 0, zero},
        {"", "Den", 0, "250", false, -1, "", "Den", 1, 0, {R"({multizone-delay="250"})"}},
        {"", "", 0, "", false, -1, "", "OrvixSync_", 1, 0, zero},
        // A device that fails to name itself leaves the name empty: nothing to ask for.
        {"", "", -1, "", false, -1, "", "", 0, 6, zero},
        {"Kitchen", "", 0, "", true, 17, "1.56", "Kitchen", 6, 6, {}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bus);
        ASSERT_TRUE(Fakes().appWrite(kMidDeviceName, row.bus) && deliver());
        world().deviceName().setName(row.device);
        world().deviceName().setStatus(row.status);
        setSetting(kGoogleCastPlayerLatency, row.latency);
        world().receiver().refuse(row.refuse ? "SetDeviceName" : "none");
        CastControllerPeer::multizoneRequestId(controller()) = row.delayId;
        CastControllerPeer::setCastLiteVersion(controller(), row.version);
        const size_t m = mark(), slept = clock.sleeps().size();
        Fakes().cast(Ev::of(Ev::Kind::Connected));
        // The handler posts its follow-ups behind the first marker.
        ASSERT_TRUE(deliver() && settle());
        EXPECT_EQ(effects("cast:", m), Lines(row.calls, std::string("SetDeviceName[\"") + row.name +
                                                            "\"]" + (row.refuse ? "=-1" : "")));
        EXPECT_EQ(clock.sleeps().size() - slept, row.sleeps);
        EXPECT_EQ(tap->take(kWhatMultizoneDelay), row.delay);
        EXPECT_EQ(tap->take(kWhatTriggerCastStatus).size(), *row.version ? 0u : 1u);
    }
    EXPECT_EQ(clock.sleeps(), std::vector<int64_t>(12, kSecond));
}

TEST_F(CastTest, StatusSpreadsNameVersionConsentLocaleAndAppName) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(Fakes().appWrite(kMidDeviceName, "Kitchen") && deliver());
    const char* version = "setting:GoogleCastFirmwareVersion=1.56";
    // clang-format off
    const struct { Texts texts; Numbers numbers; Lines effects; } rows[] = {
        {{{kKeyCastName, "Kitchen"}}, {}, {}},
        {{{kKeyBuildNumber, "1.56"}}, {}, {version, "bus:7=1.56"}},
        {{{kKeyBuildNumber, "1.56"}}, {}, {version}},
        {{}, {{kKeyUsageReport, 0}}, {"setting:GoogleCastUsageReport=false"}},
        {{{kKeyLocale, "de-DE"}, {kKeyCastAppName, "Radio"}}, {},
         {"setting:GoogleCastFactoryLocale=de-DE"}},
        {{{kKeyCastAppName, ""}}, {}, {}},
    };
    // clang-format on
    for (const auto& row : rows) {
        const size_t m = mark();
        ASSERT_TRUE(post(Message(kWhatCastStatus, row.texts, row.numbers)));
        EXPECT_EQ(effects("", m), row.effects);
    }
    EXPECT_EQ(CastControllerPeer::nowPlaying(controller()).appName, "Radio");
}

TEST_F(CastTest, VersionMonitorAsksEveryTenSecondsUntilTheVersionIsKnown) {
    useManualClock();
    ASSERT_TRUE(start());
    auto requests = [&] { return effects("cast:RequestCastStatus").size(); };
    // Asked at once, then each round: a status that brings the version ends the monitor at
    // the next round without asking; without one it asks ten times, refusals counting the same.
    for (const size_t rounds : {1u, 10u}) {
        const size_t before = requests();
        world().receiver().refuse(rounds == 1 ? "none" : "RequestCastStatus");
        log.clear();
        ASSERT_TRUE(post(new AMessage(kWhatTriggerCastStatus)));
        ASSERT_TRUE(log.waitFor("MonitorCastLiteVersion() started!"));
        for (size_t n = 1; n <= rounds; ++n) {
            clock.advance(10 * kSecond);
            ASSERT_TRUE(WaitFor([&] { return requests() == before + 1 + n; }));
        }
        ASSERT_TRUE(rounds != 1 || post(Message(kWhatCastStatus, {{kKeyBuildNumber, "1.56"}})));
        clock.advance(10 * kSecond);
        ASSERT_TRUE(WaitFor([&] { return CastControllerPeer::activeMonitors(controller()) == 0; }));
        EXPECT_EQ(requests(), before + 1 + rounds);
        CastControllerPeer::setCastLiteVersion(controller(), "");
    }
}

TEST_F(CastTest, NowPlayingReachesTheUiWhenItChanged) {
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidCurrentSource, "24");
    // clang-format off
    const Texts song = {{kKeyTrackName, "Song"}, {kKeyAlbumName, "Album"},
                        {kKeyAlbumArtist, "Band"}, {kKeyArtistName, "Artist"},
                        {kKeyCoverArtUrl, "http://art/1.jpg"}};
    Texts cover2 = song, other = song, band = {{kKeyAlbumName, ""}, {kKeyAlbumArtist, "Band"}};
    const Texts live = {{kKeyTrackName, "Morning"}, {kKeyArtistName, "Radio One"}};
    // clang-format on
    cover2[kKeyCoverArtUrl] = "http://art/2.jpg";
    other[kKeyTrackName] = "Other";
    const std::string shown = Shown("Song", 215500);
    const std::string onAir = Shown("Morning", -1, "defaultArt.jpg", "", "Radio One");
    const Numbers liveNoTime = {{kKeyStreamType, 2}, {kKeyTotalDuration, 0}};
    // Stream type 1 and 215.5 s unless the row says otherwise.
    // clang-format off
    const struct { Texts texts; Numbers numbers; Lines effects; bool uiUp = true; } rows[] = {
        {song, {}, {shown}}, {song, {}, {}},
        {cover2, {}, {Shown("Song", 215500, "http://art/2.jpg")}},
        // Past what the UI's milliseconds can hold: held at the largest.
        {cover2, {{kKeyTotalDuration, 1e7}}, {Shown("Song", 2147483647, "http://art/2.jpg")}},
        {other, {{kKeyTotalDuration, 0}}, {}}, {other, {{kKeyTotalDuration, HUGE_VAL}}, {}},
        {other, {{kKeyStreamType, 0}}, {}}, {live, liveNoTime, {onAir}}, {live, liveNoTime, {}},
        // The UI down: the record is taken all the same and not sent again.
        {other, {}, {}, false}, {other, {}, {}},
        // Without a track the app's name, without an album the album artist.
        {band, {}, {Shown("Radio", 215500, "defaultArt.jpg", "Band", "")}},
        // No session: over, unless a live stream still plays (no state counts as 0).
        {song, {{kKeySessionId, 0}}, {"clear"}},
        {live, {{kKeySessionId, 0}, {kKeyStreamType, 2}, {kKeyTotalDuration, 0}}, {onAir}},
        {live, {{kKeySessionId, 0}, {kKeyStreamType, 2}, {kKeyPlayerState, 1}}, {"clear"}},
    };
    // clang-format on
    ASSERT_TRUE(post(Message(kWhatCastStatus, {{kKeyCastAppName, "Radio"}})));
    const Numbers buffered = {{kKeyStreamType, 1}, {kKeyTotalDuration, 215.5}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        Numbers numbers = rows[i].numbers;
        numbers.insert(buffered.begin(), buffered.end());
        world().ui().setUp(rows[i].uiUp);
        const size_t m = mark();
        ASSERT_TRUE(post(Message(kWhatMediaStatus, rows[i].texts, numbers)));
        EXPECT_EQ(effects("ui:", m), rows[i].effects);
    }
    // A status without a stream type is of none: nothing to show.
    const size_t m = mark();
    ASSERT_TRUE(post(Message(kWhatMediaStatus, song, {{kKeyTotalDuration, 215.5}})));
    EXPECT_EQ(effects("ui:", m), Lines{});
}

TEST_F(CastTest, MultizoneDelayTextsBecomeMicrosecondsAndARefusalIsRetriedASecondLater) {
    useManualClock();
    ASSERT_TRUE(start());
    auto requests = [&](size_t from) { return effects("cast:SetMultizoneDelay", from); };
    // Texts that read as no finite number ask for no delay.
    // clang-format off
    const std::pair<const char*, int64_t> rows[] = {
        {"250", 250000}, {"-1000", -1000000}, {"1000", 1000000}, {"-1000.5", -1000},
        {"1000.5", 1000}, {" 42abc", 42000}, {"", 0}, {"1e400", 0}, {"inf", 0},
        {"1e300", INT64_MAX}, {"-1e300", INT64_MIN},
        // Beyond 32 bits, as the speaker's long could not hold them.
        {"5000000000", 5000000000}, {"-3000000000.9", -3000000000},
    };
    // clang-format on
    for (const auto& [text, requested] : rows) {
        const int32_t id = world().receiver().nextRequestId();
        ASSERT_TRUE(post(Message(kWhatMultizoneDelay, {{kKeyMultizoneDelay, text}})));
        EXPECT_EQ(requests(0).back(), "[" + std::to_string(requested) + "]") << text;
        EXPECT_EQ(CastControllerPeer::multizoneRequestId(controller()), id) << text;
    }
    // Refused: -1, and the same text again a second later, not before, until it is taken.
    world().receiver().refuse("SetMultizoneDelay");
    const size_t m = mark();
    ASSERT_TRUE(post(Message(kWhatMultizoneDelay, {{kKeyMultizoneDelay, " 250ms"}})));
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(controller()), -1);
    for (const auto& [us, count] :
         {std::pair(kSecond - 1, 1u), {1, 2u}, {kSecond, 3u}, {5 * kSecond, 3u}}) {
        world().receiver().refuse(count == 3 ? "none" : "SetMultizoneDelay");
        clock.advance(us);
        ASSERT_TRUE(settle() && WaitFor([&] { return requests(m).size() == count; }) && settle());
    }
    EXPECT_EQ(requests(m), (Lines{"[250000]=-1", "[250000]=-1", "[250000]"}));
}

TEST_F(CastTest, GrantReleaseAndSwitchFollowTheOwnershipTable) {
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidVolume, "47");
    gSourceSwitched = true;  // a grant clears it from any state
    const Lines grant = {"source:PlayMySource[24]", "cast:GrantResources[]",
                         "cast:CastCliSyncVolume[47]"};
    const Lines disconnect = {"ui:clear", "source:DisconnectMySource[]"};
    const Lines away = {"source:UpdatePlayerState[1]", "cast:RevokeResources[]"};
    const Lines stopped = {"ui:clear", "source:NotifyPlaybackStopped[]"};
    // 'G' the receiver asks, 'R' it releases, 'S' the service switches away.
    // clang-format off
    const struct { char event; bool granting, uiUp; Lines effects; bool switched; } steps[] = {
        {'G', true, true, grant, false}, {'R', true, true, disconnect, false},
        {'S', true, true, away, true}, {'R', true, true, stopped, true},
        {'G', false, true, {grant[0]}, true}, {'R', true, false, {stopped[1]}, true},
        {'G', true, true, grant, false}, {'R', true, true, disconnect, false},
    };
    // clang-format on
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        ASSERT_TRUE(play("Song"));
        world().source().setGrant(steps[i].granting);
        world().ui().setUp(steps[i].uiUp);
        const size_t m = mark();
        if (steps[i].event == 'G') Fakes().cast(Ev::of(Ev::Kind::RequestResources));
        if (steps[i].event == 'R') Fakes().cast(Ev::of(Ev::Kind::ReleaseResources));
        ASSERT_TRUE(steps[i].event != 'S' || Fakes().notify(world().source().sourceSwitch()));
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("", m), steps[i].effects);
        EXPECT_EQ(gSourceSwitched, steps[i].switched);
        EXPECT_EQ(track(), steps[i].event == 'R' ? "" : "Song");
    }
    // A device volume that is no number is pushed as the default.
    Fakes().appWrite(kMidVolume, "loud");
    const size_t m = mark();
    Fakes().cast(Ev::of(Ev::Kind::RequestResources));
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("cast:CastCliSyncVolume", m), Lines{"[30]"});
}

TEST_F(CastTest, EachPlayControlWordGivesExactlyItsActions) {
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidCurrentSource, "24");
    const Lines active{"cast:SendPlayCommand[0]", "bus:70=SPEAKER_ACTIVE,24"};
    const Lines stopped{"cast:SendPlayCommand[2]", "bus:70=SPEAKER_INACTIVE,24"};
    // clang-format off
    const struct { const char* word; Lines effects; bool refuse = false; } rows[] = {
        {"PLAY", active}, {"RESUME", active}, {"STOP", stopped}, {"DISCONNECT", stopped},
        {"PAUSE", {"cast:SendPlayCommand[1]"}}, {"NEXT", {"cast:SendPlayCommand[3]"}},
        {"PREV", {"cast:SendPlayCommand[4]"}}, {"NETWORKSTOP", {"bus:70=SPEAKER_INACTIVE,24"}},
        // The mute words set cast's mute and the flag only: no mixer, no report.
        {"MUTE", {"cast:CastCliSyncMute[1]"}}, {"UNMUTE", {"cast:CastCliSyncMute[0]"}},
        // Standby clears the switch flag before the clean-up looks at it.
        {"STANDBYON", {"cast:RevokeResources[]", "ui:clear"}}, {"play", {}}, {"VOLUME", {}},
        // A failed command is logged and the report still goes out.
        {"STOP", {"cast:SendPlayCommand[2]=-1", "bus:70=SPEAKER_INACTIVE,24"}, true},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("word '") + row.word + "'");
        ASSERT_TRUE(play("Song"));
        world().receiver().refuse(row.refuse ? "SendPlayCommand" : "none");
        gSourceSwitched = true;
        const size_t m = mark();
        ASSERT_TRUE(Fakes().notify(world().source().playControl(row.word)));
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("", m), row.effects);
        EXPECT_EQ(gSourceSwitched, row.word != std::string("STANDBYON"));
        EXPECT_EQ(gCastMuted, row.word == std::string("MUTE"));
        EXPECT_EQ(log.has("Failed to Notify cast server, Event STOP", LOG_ERR), row.refuse);
    }
}

TEST_F(CastTest, WithoutACastControlOnlyTheServiceHearsOfASwitch) {
    world().receiver().refuse("Create");
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidCurrentSource, "24");
    gCastMuted = true;
    const size_t m = mark();
    for (const char* word : {"PLAY", "STANDBYON", "MUTE"})
        ASSERT_TRUE(Fakes().notify(world().source().playControl(word)));
    ASSERT_TRUE(Fakes().notify(world().source().volume("55")));
    ASSERT_TRUE(Fakes().notify(world().source().sourceSwitch()));
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("", m), Lines{"source:UpdatePlayerState[1]"});
    EXPECT_TRUE(gSourceSwitched);
    EXPECT_TRUE(gCastMuted);
}

TEST_F(CastTest, CastVolumeAndMuteReachTheServiceAndNoExceptionLeavesTheCallback) {
    ASSERT_TRUE(startDevice());
    // clang-format off
    const struct { char what; int32_t value; const char* effect; bool muted; } rows[] = {
        {'v', 57, "UpdateAppVolume[\"57\"]", false}, {'v', 150, "UpdateAppVolume[\"100\"]", false},
        {'v', -3, "UpdateAppVolume[\"0\"]", false}, {'m', 1, "UpdateAppMuteStat[true]", true},
        {'m', 2, nullptr, true}, {'m', 0, "UpdateAppMuteStat[false]", false},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, row.what) + std::to_string(row.value));
        const size_t m = mark();
        if (row.what == 'v') Fakes().cast(Ev::volume(row.value));
        if (row.what == 'm') Fakes().cast(Ev::mute(row.value));
        Fakes().drain();
        EXPECT_EQ(effects("source:", m), row.effect ? Lines{row.effect} : Lines{});
        EXPECT_EQ(gCastMuted, row.muted);
    }
    // An exception stops at the edge of the library's callback.
    onVolumeMuteCallback = [](const int&, const std::string&, VolumeMediaType) {
        throw std::runtime_error("boom");
    };
    Fakes().cast(Ev::mute(1));
    Fakes().drain();
    EXPECT_TRUE(log.has("handleOnMuteChanges() stopped by an exception: boom", LOG_ERR));
}

TEST_F(CastTest, DeviceVolumeReachesTheReceiverAsAWholeNumberUpTo100AndUnmutesFirst) {
    ASSERT_TRUE(startDevice());
    // Text that is no whole number from 0 to 100 gives 30.
    // clang-format off
    const std::pair<const char*, int> rows[] = {
        {"42", 42}, {" 42", 42}, {"", 0}, {nullptr, 0}, {"100", 100}, {"abc", 30}, {"42 ", 30},
        {"101", 30}, {"-5", 30}, {"4294967338", 30},  // 42 once wrapped to 32 bits
    };
    // clang-format on
    for (const auto& [text, volume] : rows) {
        SCOPED_TRACE(text ? text : "(null)");
        const size_t m = mark();
        ASSERT_TRUE(!text || Fakes().notify(world().source().volume(text)));
        if (!text) controller().sourceSwitchListener()->OnVolumeChangeEvent(nullptr);
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("", m), Lines{"cast:CastCliSyncVolume[" + std::to_string(volume) + "]"});
    }
    // What reaches the looper otherwise is held to 0..100; no field is 0.
    const size_t m = mark();
    for (double volume : {120.0, -7.0}) {
        ASSERT_TRUE(post(Message(kWhatVolumeEvent, {}, {{kKeyVolumeEventData, volume}})));
    }
    ASSERT_TRUE(post(new AMessage(kWhatVolumeEvent)));
    // Muted, cast, the mixer and the service are unmuted first, once. The mixer is an amixer
    // of our own, first on the path, that records its arguments.
    std::string dir = std::filesystem::temp_directory_path() / "orvix-mixer-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::ofstream(dir + "/amixer") << "#!/bin/sh\necho \"$*\" >> '" << dir << "/calls'\n";
    std::filesystem::permissions(dir + "/amixer", std::filesystem::perms::owner_all);
    const std::string path = getenv("PATH");
    setenv("PATH", (dir + ":" + path).c_str(), 1);
    gCastMuted = true;
    ASSERT_TRUE(Fakes().notify(world().source().volume("55")) &&
                Fakes().notify(world().source().volume("56")));
    ASSERT_TRUE(deliver());
    setenv("PATH", path.c_str(), 1);
    std::ifstream calls(dir + "/calls");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(calls), {}), "set Master unmute\n");
    std::filesystem::remove_all(dir);
    EXPECT_EQ(effects("", m), (Lines{"cast:CastCliSyncVolume[100]", "cast:CastCliSyncVolume[0]",
                                     "cast:CastCliSyncVolume[0]", "cast:CastCliSyncMute[0]",
                                     "source:UpdateAppMuteStat[false]",
                                     "cast:CastCliSyncVolume[55]", "cast:CastCliSyncVolume[56]"}));
    EXPECT_FALSE(gCastMuted);
}

}  // namespace orvix::test
