// The cast side of the daemon: what the observer makes of the receiver's records, the play
// position on the bus, the connection and status handling, the now-playing record on the UI
// and the multi-room delay.
#include <limits>
#include <map>

#include "tests/support/DaemonTest.h"

namespace orvix::test {
namespace {

using android::AMessage;
using android::sp;
using fakes::Fakes;
using fakes::WaitFor;
using model::MediaStatusData;
using std::nullopt;
using Opt = std::optional<std::string>;

constexpr int64_t kSecond = 1000000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

model::CastStatusData Status(Opt name, Opt build, bool usage, Opt app, int32_t state = 6) {
    model::CastStatusData s;
    s.name = std::move(name);
    s.buildNumber = std::move(build);
    s.locale = "en-US";
    s.timezone = "Europe/Berlin";
    s.castState = state;
    s.usageReport = usage;
    s.appName = std::move(app);
    return s;
}

MediaStatusData Media(int32_t state, double time = 0.0, int32_t session = 5) {
    MediaStatusData m;
    m.sessionId = session;
    m.playerState = state;
    m.currentTime = time;
    return m;
}

MediaStatusData Track(int32_t state, int32_t stream, double duration, model::MediaMetadataData md) {
    MediaStatusData m = Media(state);
    m.mediaInfo = model::MediaInfoData{stream, duration, std::move(md)};
    return m;
}

// A looper message: texts as strings, numbers as int32 except the duration, a double.
sp<AMessage> Message(uint32_t what, const std::map<std::string, std::string>& texts,
                     const std::map<std::string, double>& numbers = {}) {
    sp<AMessage> msg = new AMessage(what);
    for (const auto& [key, text] : texts) msg->setString(key.c_str(), text.c_str());
    for (const auto& [key, value] : numbers) {
        if (key == kKeyTotalDuration) {
            msg->setDouble(key.c_str(), value);
        } else {
            msg->setInt32(key.c_str(), static_cast<int32_t>(value));
        }
    }
    return msg;
}

// The UI record, fields in the order the daemon sets them.
std::string Shown(const std::string& album, const std::string& artist, const std::string& cover,
                  int32_t ms, const std::string& track) {
    return "metadata{album=\"" + album + "\",artist=\"" + artist + "\",coverArt=\"" + cover +
           "\",playState=0,totalTime=" + std::to_string(ms) + ",trackName=\"" + track +
           "\",next=1,prev=1,repeat=-1,shuffle=-1,seek=0,currentSource=24}";
}

class CastTest : public DaemonTest {
protected:
    // The device's name on MID 90 as the bus holds it, without alerting the daemon.
    void setBusName(const std::string& name) {
        std::vector<model::BusAlert> ignored;
        world().bus().write("", model::Origin::App, model::Scope::Remote, kMidDeviceName, name,
                            &ignored);
    }
    Lines positions() { return effects("bus:49="); }
};

}  // namespace

TEST_F(CastTest, CastStatusGoesOnOnlyWhileConnectedWithWhatChanged) {
    ASSERT_TRUE(start());
    tap->swallow({kWhatCastStatus, kWhatCastResponse});
    const auto full = Status("Kitchen", "1.56", true, "Radio");
    const struct {
        char before;  // 'C' connect, 'D' disconnect
        model::CastStatusData status;
        Lines posted;
    } rows[] = {
        {' ', full, {}},
        {'C', Status("Kitchen", "1.56", true, "Radio", 1), {}},
        {' ', Status("Kitchen", "1.56", true, "Radio", 0), {}},
        {' ',
         full,
         {R"({cast-name="Kitchen", build-number="1.56", locale="en-US", )"
          R"(timezone="Europe/Berlin", castapp-name="Radio", usage-report=1})"}},
        {' ', Status("Kitchen", "1.56", true, nullopt), {}},
        {' ', full, {R"({castapp-name="Radio"})"}},
        {' ', Status("", nullopt, true, nullopt), {R"({cast-name=""})"}},
        // Any state above 1 counts, as unsigned.
        {' ', Status(nullopt, nullopt, false, nullopt, -1), {"{usage-report=0}"}},
        {'D', Status("Den", "1.57", true, "Radio"), {}},
        // What was posted is remembered across connections.
        {'C', Status("", "1.56", false, nullopt), {}},
    };
    for (const auto& row : rows) {
        if (row.before == 'C') Fakes().castConnect();
        if (row.before == 'D') Fakes().castDisconnect();
        Fakes().castStatus(row.status);
        ASSERT_TRUE(deliver());
        EXPECT_EQ(tap->take(kWhatCastStatus), row.posted);
    }
    Fakes().castRespond(7, -3);
    ASSERT_TRUE(deliver());
    EXPECT_EQ(tap->take(kWhatCastResponse), Lines{"{request-id=7, result-msg=-3}"});
}

TEST_F(CastTest, MediaStatusCarriesWhatChangedAndReportsThePlayerState) {
    ASSERT_TRUE(startDevice());
    tap->swallow({kWhatMediaStatus});
    MediaStatusData idle = Media(1), noSession = Media(0, 0.0, 0);
    idle.idleReason = 2;
    model::MediaMetadataData song{"Song", "B", "A", "AA", "http://img/1.jpg", false, 3};
    model::MediaMetadataData clip = song, noUrl{"News", "Anna", nullopt, nullopt, nullopt, true, 3};
    clip.metadataType = 0;
    const std::string news = R"(coveart-url="", track-name="News", artist-name="Anna"})";
    const struct {
        MediaStatusData status;
        std::string posted;  // empty: nothing
        Lines reported;
    } rows[] = {
        {idle, "{player-state=1}", {"UpdatePlayerState[1]"}},
        {Media(1), "", {}},
        {Track(1, 2, 0.0, noUrl), "{stream-type=2, total-duration=0, " + news, {}},
        {Track(3, 2, 0.0, noUrl),
         "{player-state=3, stream-type=2, total-duration=0, " + news,
         {"UpdatePlayerState[2]"}},
        {Media(4), "{player-state=4}", {"UpdatePlayerState[5]"}},
        {Media(2), "{player-state=2}", {"UpdatePlayerState[0]"}},
        {Media(7), "{player-state=7}", {"UpdatePlayerState[5]"}},
        {Media(0), "{player-state=0}", {}},
        {noSession, "{session-id=0}", {}},
        {noSession, "{session-id=0}", {}},
        {Track(0, 1, 61.5, song),
         R"({stream-type=1, total-duration=61.5, coveart-url="http://img/1.jpg", )"
         R"(track-name="Song", album-name="A", album-artist="AA", artist-name="B"})",
         {}},
        // Metadata of any other type gives its title only.
        {Track(0, 1, 61.5, clip),
         R"({stream-type=1, total-duration=61.5, coveart-url="http://img/1.jpg", )"
         R"(track-name="Song"})",
         {}},
    };
    for (const auto& row : rows) {
        const size_t m = mark();
        Fakes().castMedia(row.status);
        ASSERT_TRUE(deliver());
        EXPECT_EQ(tap->take(kWhatMediaStatus), row.posted.empty() ? Lines{} : Lines{row.posted});
        EXPECT_EQ(effects("source:", m), row.reported);
    }
}

TEST_F(CastTest, PlayPositionIsPublishedEverySecondWhilePlaying) {
    useManualClock();
    ASSERT_TRUE(start());
    const struct {
        char op;  // 'm' media status, 'a' advance the clock, 'd' disconnect
        int32_t state;
        double value;  // the current time, or seconds to advance
        Lines writes;  // what follows on MID 49; a later row's write shows nothing else came
    } steps[] = {
        {'m', 2, 12.7, {"12000"}}, {'a', 0, 1, {"13000"}},
        {'m', 2, 30.2, {}},  // a seek: the next write starts from there
        {'a', 0, 1, {"30000"}},    {'m', 3, 40.2, {}},
        {'a', 0, 1, {"40000"}},    {'a', 0, 5, {}},
        {'m', 2, 0.0, {}},         {'m', 2, -3.0, {}},
        {'m', 2, kNaN, {}},        {'m', 2, 7.5, {"7000"}},
        {'m', 3, -4.0, {}},        {'a', 0, 1, {"0"}},
        {'m', 2, 5.0, {"5000"}},   {'d', 0, 0, {}},
        {'a', 0, 1, {"6000"}},     {'a', 0, 1, {}},
        {'m', 2, 9.0, {"9000"}},
    };
    Lines want;
    for (const auto& step : steps) {
        if (step.op == 'm') Fakes().castMedia(Media(step.state, step.value));
        if (step.op == 'd') Fakes().castDisconnect();
        ASSERT_TRUE(deliver());
        if (step.op == 'a') clock.advance(static_cast<int64_t>(step.value) * kSecond);
        want.insert(want.end(), step.writes.begin(), step.writes.end());
        ASSERT_TRUE(WaitFor([&] { return positions() == want; }))
            << step.op << step.value << ": " << ::testing::PrintToString(positions());
    }
}

TEST_F(CastTest, DisconnectGivesTheSpeakerBackAndEmptiesTheUiOnlyWhileCastHasIt) {
    ASSERT_TRUE(startDevice());
    const Lines back = {"UpdatePlayerState[1]", "DisconnectMySource[]"};
    const struct {
        const char* source;  // MID 50
        bool switched, uiUp;
        Lines given, ui;
    } rows[] = {
        {"", false, true, {}, {}},      {"0", false, true, {}, {}},
        {"30", false, true, {}, {}},    {"24 ", false, true, {}, {}},
        {"24", true, true, back, {}},   {"24", false, true, back, {"clear"}},
        {"24", false, false, back, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("source '") + row.source + "'");
        ASSERT_TRUE(post(Message(kWhatMediaStatus, {{kKeyTrackName, row.source}},
                                 {{kKeyStreamType, 1}, {kKeyTotalDuration, 1.0}})));
        Fakes().appWrite(kMidCurrentSource, row.source);
        gSourceSwitched = row.switched;
        world().ui().setUp(row.uiUp);
        log.clear();
        const size_t m = mark();
        Fakes().castDisconnect();
        ASSERT_TRUE(deliver());
        EXPECT_EQ(effects("source:", m), row.given);
        EXPECT_EQ(effects("ui:", m), row.ui);
        const bool cleared = row.given.size() && !row.switched;
        EXPECT_EQ(CastControllerPeer::nowPlaying(controller()).trackName,
                  cleared ? "" : row.source);
        EXPECT_EQ(log.has(std::string("Current Source : ") + row.source + ", ignore", LOG_NOTICE),
                  row.source == std::string() || row.source == std::string("0"));
        EXPECT_EQ(gSourceSwitched, row.switched);
    }
}

TEST_F(CastTest, ConnectionNamesTheReceiverAndAsksForTheDelayAndTheStatus) {
    useManualClock();
    clock.setAutoAdvance(true);
    ASSERT_TRUE(start());
    tap->swallow({kWhatMultizoneDelay, kWhatTriggerCastStatus});
    auto named = [](const std::string& name, const char* refused = "") {
        return "SetDeviceName[\"" + name + "\"]" + refused;
    };
    const struct {
        const char *bus, *device;
        int deviceStatus;
        const char* latency;
        bool refuse;
        int32_t delayId;
        const char* version;
        Lines calls;
        size_t sleeps;
        Lines delay;
    } rows[] = {
        {"Living Room",
         "Den",
         0,
         "",
         false,
         -1,
         "",
         {named("Living Room")},
         0,
         {R"({multizone-delay="0"})"}},
        {"", "Den", 0, "250", false, -1, "", {named("Den")}, 0, {R"({multizone-delay="250"})"}},
        {"", "", 0, "", false, -1, "", {named("OrvixSync_")}, 0, {R"({multizone-delay="0"})"}},
        // A device that fails to name itself leaves the name empty: nothing to ask for.
        {"", "", -1, "", false, -1, "", {}, 6, {R"({multizone-delay="0"})"}},
        {"Kitchen", "", 0, "", true, 17, "1.56", Lines(6, named("Kitchen", "=-1")), 6, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bus);
        setBusName(row.bus);
        world().deviceName().setName(row.device);
        world().deviceName().setStatus(row.deviceStatus);
        setSetting(kGoogleCastPlayerLatency, row.latency);
        world().receiver().refuse(row.refuse ? "SetDeviceName" : "none");
        CastControllerPeer::multizoneRequestId(controller()) = row.delayId;
        CastControllerPeer::setCastLiteVersion(controller(), row.version);
        const size_t m = mark(), slept = clock.sleeps().size();
        Fakes().castConnect();
        // The handler posts its follow-ups behind the first marker.
        ASSERT_TRUE(deliver() && settle());
        EXPECT_EQ(effects("cast:", m), row.calls);
        EXPECT_EQ(clock.sleeps().size() - slept, row.sleeps);
        EXPECT_EQ(tap->take(kWhatMultizoneDelay), row.delay);
        EXPECT_EQ(tap->take(kWhatTriggerCastStatus).size(), *row.version ? 0u : 1u);
        EXPECT_TRUE(CastControllerPeer::controlConnected(controller()));
    }
    EXPECT_EQ(clock.sleeps(), std::vector<int64_t>(12, kSecond));
}

TEST_F(CastTest, StatusSpreadsNameVersionConsentLocaleAndAppName) {
    ASSERT_TRUE(start());
    setBusName("Kitchen");
    const struct {
        std::map<std::string, std::string> texts;
        std::map<std::string, double> numbers;
        Lines effects;
    } rows[] = {
        {{{kKeyCastName, "Kitchen"}}, {}, {}},
        {{{kKeyCastName, "Den"}},
         {},
         {"bus:90=Den", "bus:90local=Den", "setting:DeviceFriendlyName=Den"}},
        {{{kKeyBuildNumber, "1.56"}}, {}, {"setting:GoogleCastFirmwareVersion=1.56", "bus:7=1.56"}},
        {{{kKeyBuildNumber, "1.56"}}, {}, {"setting:GoogleCastFirmwareVersion=1.56"}},
        {{}, {{kKeyUsageReport, 0}}, {"setting:GoogleCastUsageReport=false"}},
        {{}, {{kKeyUsageReport, 5}}, {"setting:GoogleCastUsageReport=true"}},
        {{{kKeyLocale, "de-DE"}, {kKeyCastAppName, "Radio"}},
         {},
         {"setting:GoogleCastFactoryLocale=de-DE"}},
        {{{kKeyCastAppName, ""}}, {}, {}},
    };
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
    auto round = [&](size_t want) {
        clock.advance(10 * kSecond);
        return WaitFor([&] { return requests() == want; });
    };
    ASSERT_TRUE(post(new AMessage(kWhatTriggerCastStatus)));
    ASSERT_TRUE(log.waitFor("MonitorCastLiteVersion() started!"));
    EXPECT_EQ(requests(), 1u);
    ASSERT_TRUE(round(2));
    // A status brings the version: the next round ends the monitor without asking.
    ASSERT_TRUE(post(Message(kWhatCastStatus, {{kKeyBuildNumber, "1.56"}})));
    clock.advance(10 * kSecond);
    ASSERT_TRUE(WaitFor([&] { return CastControllerPeer::activeMonitors(controller()) == 0; }));
    EXPECT_EQ(requests(), 2u);

    // Never a version: ten requests after the first, refused ones counting the same.
    CastControllerPeer::setCastLiteVersion(controller(), "");
    world().receiver().refuse("RequestCastStatus");
    log.clear();
    ASSERT_TRUE(post(new AMessage(kWhatTriggerCastStatus)));
    ASSERT_TRUE(log.waitFor("MonitorCastLiteVersion() started!"));
    for (size_t n = 1; n <= 10; ++n) ASSERT_TRUE(round(3 + n));
    clock.advance(10 * kSecond);
    ASSERT_TRUE(WaitFor([&] { return CastControllerPeer::activeMonitors(controller()) == 0; }));
    EXPECT_EQ(requests(), 13u);
}

TEST_F(CastTest, NowPlayingReachesTheUiWhenItChanged) {
    ASSERT_TRUE(startDevice());
    Fakes().appWrite(kMidCurrentSource, "24");
    using Texts = std::map<std::string, std::string>;
    const Texts song = {{kKeyTrackName, "Song"},
                        {kKeyAlbumName, "Album"},
                        {kKeyAlbumArtist, "Band"},
                        {kKeyArtistName, "Artist"},
                        {kKeyCoverArtUrl, "http://art/1.jpg"}};
    Texts cover2 = song, other = song, band = {{kKeyAlbumName, ""}, {kKeyAlbumArtist, "Band"}};
    cover2[kKeyCoverArtUrl] = "http://art/2.jpg";
    other[kKeyTrackName] = "Other";
    const Texts live = {{kKeyTrackName, "Morning"}, {kKeyArtistName, "Radio One"}};
    Texts evening = live;
    evening[kKeyTrackName] = "Evening";
    const std::string songShown = Shown("Album", "Artist", "http://art/1.jpg", 215500, "Song");
    const auto liveShown = [](const char* track) {
        return Shown("", "Radio One", "defaultArt.jpg", -1, track);
    };
    const struct {
        Texts texts;
        std::map<std::string, double> numbers;  // stream type 1 and 215.5 s unless given
        Lines effects;
        bool uiUp = true;
    } rows[] = {
        {song, {}, {songShown}},
        {song, {}, {}},
        {cover2, {}, {Shown("Album", "Artist", "http://art/2.jpg", 215500, "Song")}},
        {other, {{kKeyTotalDuration, 0}}, {}},
        {other, {{kKeyTotalDuration, -3}}, {}},
        {other, {{kKeyTotalDuration, kInf}}, {}},
        {other, {{kKeyTotalDuration, kNaN}}, {}},
        {other, {{kKeyStreamType, 0}}, {}},
        {other, {{kKeyStreamType, 3}}, {}},
        {live, {{kKeyStreamType, 2}, {kKeyTotalDuration, 0}}, {liveShown("Morning")}},
        {live, {{kKeyStreamType, 2}, {kKeyTotalDuration, kNaN}}, {}},
        {evening, {{kKeyStreamType, 2}, {kKeyTotalDuration, -1}}, {liveShown("Evening")}},
        // The UI down: the record is taken all the same and not sent again.
        {other, {}, {}, false},
        {other, {}, {}},
        // Without a track the app's name, without an album the album artist.
        {band, {}, {Shown("Band", "", "defaultArt.jpg", 215500, "Radio")}},
        // No session: over, unless a live stream still plays (no state counts as 0).
        {song, {{kKeySessionId, 0}}, {"clear"}},
        {song, {{kKeySessionId, 0}, {kKeyStreamType, 2}, {kKeyPlayerState, 2}}, {songShown}},
        {live,
         {{kKeySessionId, 0}, {kKeyStreamType, 2}, {kKeyTotalDuration, 0}},
         {liveShown("Morning")}},
        {evening, {{kKeySessionId, 0}, {kKeyStreamType, 2}, {kKeyPlayerState, 1}}, {"clear"}},
        {song, {{kKeySessionId, 1}}, {songShown}},
    };
    ASSERT_TRUE(post(Message(kWhatCastStatus, {{kKeyCastAppName, "Radio"}})));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        std::map<std::string, double> numbers = {{kKeyStreamType, 1}, {kKeyTotalDuration, 215.5}};
        for (const auto& [key, value] : rows[i].numbers) numbers[key] = value;
        world().ui().setUp(rows[i].uiUp);
        const size_t m = mark();
        ASSERT_TRUE(post(Message(kWhatMediaStatus, rows[i].texts, numbers)));
        EXPECT_EQ(effects("ui:", m), rows[i].effects);
    }
    // A release empties the record, so the same track is sent again.
    const size_t m = mark();
    Fakes().castReleaseResources();
    ASSERT_TRUE(deliver());
    ASSERT_TRUE(
        post(Message(kWhatMediaStatus, song, {{kKeyStreamType, 1}, {kKeyTotalDuration, 215.5}})));
    EXPECT_EQ(effects("", m),
              (Lines{"ui:clear", "source:DisconnectMySource[]", "ui:" + songShown}));
}

TEST_F(CastTest, MultizoneDelayTextsBecomeMicrosecondsAndARefusalIsRetriedASecondLater) {
    useManualClock();
    ASSERT_TRUE(start());
    auto requests = [&] { return effects("cast:SetMultizoneDelay"); };
    auto delay = [&](const char* text) {
        return post(Message(kWhatMultizoneDelay, {{kKeyMultizoneDelay, text}}));
    };
    const struct {
        const char* text;
        int64_t requested;
        bool readable;
    } rows[] = {
        {"250", 250000, true},
        {"-1000", -1000000, true},
        {"1000", 1000000, true},
        {"-1000.5", -1000, true},
        {"1000.5", 1000, true},
        {"1500", 1500, true},
        {" 42abc", 42000, true},
        {"", 0, false},
        {"abc", 0, false},
        {"1e400", 0, false},
        {"inf", 0, false},
        {"nan", 0, false},
        {"1e300", INT64_MAX, true},
        {"-1e300", INT64_MIN, true},
        // Beyond 32 bits, as the speaker's long could not hold them.
        {"5000000000", 5000000000, true},
        {"-3000000000.9", -3000000000, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("text '") + row.text + "'");
        const int32_t id = world().receiver().nextRequestId();
        log.clear();
        ASSERT_TRUE(delay(row.text));
        EXPECT_EQ(requests().back(), "[" + std::to_string(row.requested) + "]");
        EXPECT_EQ(CastControllerPeer::multizoneRequestId(controller()), id);
        EXPECT_EQ(log.has("Exception caught! -> stod", LOG_ERR), !row.readable);
    }
    // Refused: -1, and the same text again a second later, not before.
    world().receiver().refuse("SetMultizoneDelay");
    ASSERT_TRUE(delay(" 250ms"));
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(controller()), -1);
    clock.advance(kSecond - 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(requests().size(), std::size(rows) + 1);
    clock.advance(1);
    ASSERT_TRUE(WaitFor([&] { return requests().size() == std::size(rows) + 2; }) && settle());
    world().receiver().refuse("none");
    const int32_t id = world().receiver().nextRequestId();
    clock.advance(kSecond);
    ASSERT_TRUE(WaitFor([&] { return requests().size() == std::size(rows) + 3; }) && settle());
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(controller()), id);
    // Taken: the chain ends.
    clock.advance(5 * kSecond);
    ASSERT_TRUE(settle());
    const Lines all = requests();
    EXPECT_EQ(Lines(all.begin() + std::size(rows), all.end()),
              (Lines{"[250000]=-1", "[250000]=-1", "[250000]"}));
}

}  // namespace orvix::test
