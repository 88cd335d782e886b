// The cast control observer: what reaches the looper from the library's callbacks, the
// player state sent to the source-switch service, the play-position reporter on MID 49 and
// the clean-up on disconnect.
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using model::CastStatusData;
using model::MediaInfoData;
using model::MediaMetadataData;
using model::MediaStatusData;
using std::nullopt;

namespace {

constexpr int64_t kSecond = 1000000;

CastStatusData Status(std::optional<std::string> name, std::optional<std::string> build, bool usage,
                      std::optional<std::string> app, int32_t state = 6) {
    CastStatusData s;
    s.name = std::move(name);
    s.buildNumber = std::move(build);
    s.locale = "en-US";
    s.timezone = "Europe/Berlin";
    s.castState = state;
    s.usageReport = usage;
    s.appName = std::move(app);
    return s;
}

// Media information with a track of this title and artist.
MediaInfoData Info(int32_t stream, double duration, const char* title, const char* artist,
                   int32_t metadataType = 3) {
    MediaInfoData info;
    info.streamType = stream;
    info.duration = duration;
    info.metadata = MediaMetadataData();
    info.metadata->title = title;
    info.metadata->artist = artist;
    info.metadata->metadataType = metadataType;
    return info;
}

// A status with a session (5) and no idle reason, with media information when given.
MediaStatusData Media(int32_t state, double time = 0.0, std::optional<MediaInfoData> info = {}) {
    MediaStatusData m;
    m.sessionId = 5;
    m.playerState = state;
    m.currentTime = time;
    m.mediaInfo = std::move(info);
    return m;
}

}  // namespace

TEST_F(CastSessionTest, CastStatusGoesOnOnlyWhenConnectedSettledAndChanged) {
    startController();
    // What the controller makes of it is tested on its own; here only the messages count.
    mTap->swallow({kWhatCastStatus});
    auto posted = [&](std::vector<CastStatusData> statuses) {
        for (const auto& status : statuses) Fakes().castStatus(status);
        deliver();
        return mTap->take(kWhatCastStatus);
    };
    const CastStatusData full = Status("Kitchen", "1.56", true, "Radio");
    EXPECT_EQ(posted({full}), Names{});
    EXPECT_TRUE(mLog.has(
        "castobserver: OnCastStatus() Ignore as Cast control not connected! state:0", LOG_ERR));
    Fakes().castConnect();
    EXPECT_EQ(posted({Status("Kitchen", "1.56", true, "Radio", 1),
                      Status("Kitchen", "1.56", true, "Radio", 0)}),
              Names{});
    EXPECT_EQ(
        mLog.count("castobserver: OnCastStatus() Ignoring unknown and starting state!", LOG_ERR),
        2u);
    EXPECT_EQ(posted({full}), Names{R"({cast-name="Kitchen", build-number="1.56", )"
                                    R"(locale="en-US", timezone="Europe/Berlin", )"
                                    R"(castapp-name="Radio", usage-report=1})"});

    // Nothing new and no running app: nothing goes on. The app name goes on every time. An
    // emptied name is a change, a missing one is not; any state above 1 counts, as unsigned.
    EXPECT_EQ(posted({Status("Kitchen", "1.56", true, nullopt)}), Names{});
    EXPECT_TRUE(
        mLog.has("castobserver: OnCastStatus() No changes to post cast status data!", LOG_INFO));
    EXPECT_EQ(posted({full}), Names{R"({castapp-name="Radio"})"});
    EXPECT_EQ(
        posted({Status("", nullopt, true, nullopt), Status(nullopt, nullopt, true, nullopt, -1)}),
        Names{R"({cast-name=""})"});
    EXPECT_EQ(mLog.count("No changes to post cast status data!"), 2u);

    // The remembered values outlive the connection; a disconnected control hears nothing.
    Fakes().castDisconnect();
    EXPECT_EQ(posted({Status("Den", nullopt, false, "Radio")}), Names{});
    Fakes().castConnect();
    EXPECT_EQ(posted({Status("", "1.56", true, nullopt), Status("", "1.56", false, nullopt)}),
              Names{"{usage-report=0}"});
}

TEST_F(CastSessionTest, MediaStatusCarriesWhatChangedAndReportsThePlayerState) {
    startController();
    mTap->swallow({kWhatMediaStatus});
    auto posted = [&](std::vector<MediaStatusData> statuses) {
        for (const auto& status : statuses) Fakes().castMedia(status);
        deliver();
        return mTap->take(kWhatMediaStatus);
    };
    const MediaInfoData live = Info(2, 0.0, "News", "Anna");
    MediaStatusData idle = Media(1);
    idle.idleReason = 2;
    EXPECT_EQ(posted({idle}), Names{"{player-state=1}"});
    EXPECT_TRUE(mLog.has("castobserver: OnMediaStatus() idle reason: FINISHED", LOG_INFO));

    // Unchanged state, no media, a session: nothing at all. Metadata goes on with its lines.
    EXPECT_EQ(posted({Media(1)}), Names{});
    const std::string news = R"(stream-type=2, total-duration=0, coveart-url="", )"
                             R"(track-name="News", artist-name="Anna"})";
    EXPECT_EQ(posted({Media(1, 0.0, live)}), Names{"{" + news});
    EXPECT_TRUE(mLog.has("castobserver: HandleMediaMetadata() Title --> News ", LOG_NOTICE));
    EXPECT_EQ(posted({Media(3, 0.0, live), Media(3, 0.0, live)}),
              (Names{"{player-state=3, " + news, "{" + news}));

    // Every state change is reported to the service, INVALID excepted, and goes on regardless.
    EXPECT_EQ(
        posted({Media(4), Media(2), Media(7), Media(0)}),
        (Names{"{player-state=4}", "{player-state=2}", "{player-state=7}", "{player-state=0}"}));
    EXPECT_EQ(since(0, "source:"),
              (Names{"source:UpdatePlayerState[1]", "source:UpdatePlayerState[2]",
                     "source:UpdatePlayerState[5]", "source:UpdatePlayerState[0]",
                     "source:UpdatePlayerState[5]"}));

    // A status without a session says so every time.
    MediaStatusData noSession = Media(0);
    noSession.sessionId = 0;
    EXPECT_EQ(posted({noSession, noSession}), Names(2, "{session-id=0}"));

    // Any metadata but a music track gives its title only.
    MediaInfoData clip = Info(1, 61.5, "Clip", "B", 0);
    clip.metadata->albumName = "A";
    clip.metadata->imageUrl = "http://img/1.jpg";
    EXPECT_EQ(posted({Media(0, 0.0, clip)}),
              Names{R"({stream-type=1, total-duration=61.5, coveart-url="http://img/1.jpg", )"
                    R"(track-name="Clip"})"});
    EXPECT_TRUE(
        mLog.has("castobserver: HandleMediaMetadata() Metadata type 0 not handled!", LOG_ERR));
}

// Holes of every other kind are the fuzz target's; it always gives an array to match a count.
TEST_F(CastSessionTest, AnImageCountWithoutImagesIsReadAsNoImage) {
    startController();
    mTap->swallow({kWhatMediaStatus});
    chromecast::MediaMetadata metadata;
    metadata.metadataType = 3;
    metadata.title = "Song";
    metadata.images = nullptr;
    metadata.imageCount = 3;
    chromecast::MediaInfo info;
    info.streamType = 1;
    info.metadata = &metadata;
    chromecast::MediaStatus status;
    status.mediaSessionId = 9;
    status.mediaInfo = &info;
    mController->observer()->OnMediaStatus(status);
    settle();
    Names taken = mTap->take(kWhatMediaStatus);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_NE(taken[0].find(R"(coveart-url="", track-name="Song")"), std::string::npos) << taken[0];
}

TEST_F(CastSessionTest, PlayPositionIsPublishedEverySecondWhilePlaying) {
    startController();
    mTap->swallow({kWhatMediaStatus});
    Names want;
    auto expectPositions = [&](Names more) {
        want.insert(want.end(), more.begin(), more.end());
        EXPECT_TRUE(WaitFor([&] { return busWrites(kMidPlayPosition) == want; }))
            << ::testing::PrintToString(busWrites(kMidPlayPosition));
    };
    auto media = [&](const MediaStatusData& status) {
        Fakes().castMedia(status);
        deliver();
    };
    media(Media(2, 12.7));
    expectPositions({"12000"});
    mClock.advance(kSecond);
    expectPositions({"13000"});
    // A pause ends the ticks with the position the pause brought; paused time sends nothing.
    media(Media(3, 40.2));
    mClock.advance(kSecond);
    expectPositions({"40000"});
    mClock.advance(5 * kSecond);
    // Playing again sends at once; a disconnect stops the ticks too, the last one carrying
    // the position counted so far.
    media(Media(2, 7.5));
    expectPositions({"7000"});
    Fakes().castDisconnect();
    deliver();
    mClock.advance(kSecond);
    expectPositions({"8000"});
    // That was the last one: a reporter still ticking would write within the window.
    mClock.advance(kSecond);
    EXPECT_FALSE(WaitFor([&] { return busWrites(kMidPlayPosition).size() > want.size(); },
                         std::chrono::milliseconds(200)));
}

TEST_F(CastSessionTest, DisconnectGivesTheSpeakerBackOnlyWhenCastHasIt) {
    startController();
    // The controller's own clean-up belongs to the audio-focus tests.
    mTap->swallow({kWhatControlDisconnected, kWhatCastResponse});
    for (std::string source : {"24", "0", "", "12"}) {
        SCOPED_TRACE("source '" + source + "'");
        size_t m = mark();
        mLog.clear();
        Fakes().appWrite(kMidCurrentSource, source);
        Fakes().castConnect();
        Fakes().castDisconnect();
        deliver();
        EXPECT_EQ(
            mLog.has("castobserver: Current Source : " + source + ", ignore clean up!", LOG_NOTICE),
            source == "" || source == "0");
        EXPECT_EQ(since(m, "source:"), (source == "24" ? Names{"source:UpdatePlayerState[1]",
                                                               "source:DisconnectMySource[]"}
                                                       : Names{}));
    }
    EXPECT_EQ(mTap->take(kWhatControlDisconnected).size(), 4u);
    Fakes().castRespond(7, -3);
    deliver();
    EXPECT_EQ(mTap->take(kWhatCastResponse), Names{"{request-id=7, result-msg=-3}"});
}

}  // namespace orvix::test
