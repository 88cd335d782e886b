// The cast control observer: what reaches the looper from the library's callbacks, the
// player state sent to the source-switch service, the play-position reporter on MID 49 and
// the clean-up on disconnect.
#include <cmath>
#include <limits>

#include "tests/unit/CastTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::fakes::WaitFor;
using orvix::model::CastStatusData;
using orvix::model::MediaInfoData;
using orvix::model::MediaMetadataData;
using orvix::model::MediaStatusData;
using orvix::test::CastSessionTest;
using orvix::test::EntryNames;
using orvix::test::Int32Of;
using orvix::test::StringOf;

namespace {

using Names = std::vector<std::string>;
constexpr int64_t kSecond = 1000000;

CastStatusData Status(std::optional<std::string> name, std::optional<std::string> build,
                      std::optional<std::string> locale, std::optional<std::string> zone,
                      bool usage, std::optional<std::string> app, int32_t state = 6) {
    CastStatusData s;
    s.name = std::move(name);
    s.buildNumber = std::move(build);
    s.locale = std::move(locale);
    s.timezone = std::move(zone);
    s.usageReport = usage;
    s.appName = std::move(app);
    s.castState = state;
    return s;
}

MediaStatusData Media(int32_t playerState, double time = 0.0, int32_t session = 5) {
    MediaStatusData m;
    m.sessionId = session;
    m.playerState = playerState;
    m.currentTime = time;
    return m;
}

MediaStatusData WithInfo(MediaStatusData m, int32_t stream, double duration,
                         std::optional<MediaMetadataData> metadata) {
    MediaInfoData info;
    info.streamType = stream;
    info.duration = duration;
    info.metadata = std::move(metadata);
    m.mediaInfo = info;
    return m;
}

}  // namespace

TEST_F(CastSessionTest, CastStatusGoesOnOnlyWhenConnectedSettledAndChanged) {
    startTapped();
    // What the controller makes of it is tested on its own; here only the message counts.
    mTap->swallow({kWhatCastStatus});
    const CastStatusData full = Status("Kitchen", "1.56", "en-US", "Europe/Berlin", true, "Radio");

    Fakes().castStatus(full);
    deliver();
    EXPECT_TRUE(mLog.has("castobserver: OnCastStatus() called ++", LOG_DEBUG));
    EXPECT_TRUE(mLog.has(
        "castobserver: OnCastStatus() Ignore as Cast control not connected! state:0", LOG_ERR));

    Fakes().castConnect();
    deliver();
    EXPECT_EQ(mTap->taken(kWhatControlConnected).size(), 1u);
    EXPECT_TRUE(
        mLog.has("castobserver: OnControlConnected() Handle cast status from now on!", LOG_INFO));
    Fakes().castStatus(Status("Kitchen", "1.56", "en-US", "Europe/Berlin", true, "Radio", 1));
    Fakes().castStatus(Status("Kitchen", "1.56", "en-US", "Europe/Berlin", true, "Radio", 0));
    deliver();
    EXPECT_EQ(
        mLog.count("castobserver: OnCastStatus() Ignoring unknown and starting state!", LOG_ERR),
        2u);
    EXPECT_TRUE(mTap->taken(kWhatCastStatus).empty());

    Fakes().castStatus(full);
    deliver();
    sp<AMessage> msg = onlyTaken(kWhatCastStatus);
    EXPECT_EQ(EntryNames(msg), (Names{"cast-name", "build-number", "locale", "timezone",
                                      "castapp-name", "usage-report"}));
    EXPECT_EQ(StringOf(msg, kKeyCastName), "Kitchen");
    EXPECT_EQ(StringOf(msg, kKeyBuildNumber), "1.56");
    EXPECT_EQ(StringOf(msg, kKeyLocale), "en-US");
    EXPECT_EQ(StringOf(msg, kKeyTimezone), "Europe/Berlin");
    EXPECT_EQ(StringOf(msg, kKeyCastAppName), "Radio");
    EXPECT_EQ(Int32Of(msg, kKeyUsageReport), 1);
    EXPECT_TRUE(mLog.has("castobserver: updateCastStatus() key:locale value:en-US", LOG_INFO));
    EXPECT_TRUE(mLog.has("castobserver: OnCastStatus() Cast state:6", LOG_INFO));

    // Nothing new and no running app: nothing goes on. The app name goes on every time.
    mTap->clear();
    Fakes().castStatus(Status("Kitchen", "1.56", "en-US", "Europe/Berlin", true, std::nullopt));
    deliver();
    EXPECT_TRUE(mTap->taken(kWhatCastStatus).empty());
    EXPECT_TRUE(
        mLog.has("castobserver: OnCastStatus() No changes to post cast status data!", LOG_INFO));
    Fakes().castStatus(full);
    deliver();
    EXPECT_EQ(EntryNames(onlyTaken(kWhatCastStatus)), Names{"castapp-name"});

    // An emptied name is a change; a missing one (null) is not. Any state above 1 counts,
    // compared as unsigned.
    mTap->clear();
    Fakes().castStatus(Status("", std::nullopt, std::nullopt, std::nullopt, true, std::nullopt));
    Fakes().castStatus(
        Status(std::nullopt, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt, -1));
    deliver();
    msg = onlyTaken(kWhatCastStatus);
    EXPECT_EQ(EntryNames(msg), Names{"cast-name"});
    EXPECT_EQ(StringOf(msg, kKeyCastName), "");
    EXPECT_EQ(mLog.count("No changes to post cast status data!"), 2u);

    // The remembered values outlive the connection; a disconnected control hears nothing.
    Fakes().castDisconnect();
    Fakes().castStatus(Status("Den", std::nullopt, std::nullopt, std::nullopt, false, "Radio"));
    Fakes().castConnect();
    deliver();
    EXPECT_EQ(mLog.count("Ignore as Cast control not connected! state:0"), 2u);
    mTap->clear();
    Fakes().castStatus(Status("", "1.56", "en-US", "Europe/Berlin", true, std::nullopt));
    Fakes().castStatus(Status("", "1.56", "en-US", "Europe/Berlin", false, std::nullopt));
    deliver();
    msg = onlyTaken(kWhatCastStatus);
    EXPECT_EQ(EntryNames(msg), Names{"usage-report"});
    EXPECT_EQ(Int32Of(msg, kKeyUsageReport), 0);
}

TEST_F(CastSessionTest, MediaStatusCarriesWhatChangedAndReportsThePlayerState) {
    startTapped();
    mTap->swallow({kWhatMediaStatus});
    MediaMetadataData track;
    track.title = "News";
    track.artist = "Anna";

    MediaStatusData idle = Media(1);
    idle.idleReason = 2;
    Fakes().castMedia(idle);
    deliver();
    sp<AMessage> msg = onlyTaken(kWhatMediaStatus);
    EXPECT_EQ(EntryNames(msg), Names{"player-state"});
    EXPECT_EQ(Int32Of(msg, kKeyPlayerState), 1);
    EXPECT_TRUE(mLog.has("castobserver: OnMediaStatus() Called ++ ", LOG_DEBUG));
    EXPECT_TRUE(mLog.has("castobserver: SetCastPlaybackState() playback state IDLE", LOG_INFO));
    EXPECT_TRUE(mLog.has("castobserver: OnMediaStatus() idle reason: FINISHED", LOG_INFO));
    EXPECT_TRUE(
        mLog.has("castobserver: OnMediaStatus() player state IDLE, current time 0.000000 seconds",
                 LOG_INFO));

    // Unchanged state, no media, a session: nothing at all.
    mTap->clear();
    Fakes().castMedia(Media(1));
    deliver();
    EXPECT_TRUE(mTap->taken(kWhatMediaStatus).empty());
    EXPECT_EQ(mLog.count("idle reason:"), 1u);

    // The detail lines wait for the first status with metadata after the state change.
    Fakes().castMedia(WithInfo(Media(1), 2, 0.0, track));
    deliver();
    msg = onlyTaken(kWhatMediaStatus);
    EXPECT_EQ(EntryNames(msg),
              (Names{"stream-type", "total-duration", "coveart-url", "track-name", "artist-name"}));
    EXPECT_EQ(Int32Of(msg, kKeyStreamType), 2);
    EXPECT_EQ(StringOf(msg, kKeyCoverArtUrl), "");
    EXPECT_EQ(StringOf(msg, kKeyTrackName), "News");
    EXPECT_EQ(StringOf(msg, kKeyArtistName), "Anna");
    EXPECT_TRUE(
        mLog.has("castobserver: OnMediaStatus() media stream type LIVE media duration "
                 "0.000000",
                 LOG_INFO));
    EXPECT_TRUE(mLog.has("castobserver: HandleMediaMetadata() Entered ++", LOG_DEBUG));
    EXPECT_TRUE(mLog.has("castobserver: HandleMediaMetadata() Title --> News ", LOG_NOTICE));
    EXPECT_TRUE(mLog.has("castobserver: HandleMediaMetadata() Artist--> Anna", LOG_NOTICE));
    EXPECT_FALSE(mLog.has("Album"));

    mTap->clear();
    Fakes().castMedia(WithInfo(Media(3), 2, 0.0, track));
    Fakes().castMedia(WithInfo(Media(3), 2, 0.0, track));
    deliver();
    auto both = mTap->taken(kWhatMediaStatus);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(Int32Of(both[0], kKeyPlayerState), 3);
    EXPECT_FALSE(both[1]->contains(kKeyPlayerState));
    EXPECT_EQ(mLog.count("Title --> News"), 2u);

    // Every state change is reported, INVALID excepted; the message carries it regardless.
    mTap->clear();
    for (int32_t state : {4, 2, 7, 0}) Fakes().castMedia(Media(state));
    deliver();
    auto changes = mTap->taken(kWhatMediaStatus);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(Int32Of(changes[3], kKeyPlayerState), 0);
    EXPECT_TRUE(mLog.has("castobserver: SetCastPlaybackState() playback state INVALID", LOG_INFO));
    EXPECT_EQ(sourceCalls(),
              (Names{"UpdatePlayerState(1)", "UpdatePlayerState(2)", "UpdatePlayerState(5)",
                     "UpdatePlayerState(0)", "UpdatePlayerState(5)"}));

    // A status without a session says so every time.
    mTap->clear();
    Fakes().castMedia(Media(0, 0.0, 0));
    Fakes().castMedia(Media(0, 0.0, 0));
    deliver();
    for (const auto& m : mTap->taken(kWhatMediaStatus)) {
        EXPECT_EQ(EntryNames(m), Names{"session-id"});
        EXPECT_EQ(Int32Of(m, kKeySessionId), 0);
    }
    EXPECT_EQ(mTap->taken(kWhatMediaStatus).size(), 2u);

    // Any metadata but a music track gives its title only.
    mTap->clear();
    MediaMetadataData clip;
    clip.title = "Clip";
    clip.albumName = "A";
    clip.artist = "B";
    clip.imageUrl = "http://img/1.jpg";
    clip.metadataType = 0;
    Fakes().castMedia(WithInfo(Media(0), 1, 61.5, clip));
    deliver();
    msg = onlyTaken(kWhatMediaStatus);
    EXPECT_EQ(EntryNames(msg),
              (Names{"stream-type", "total-duration", "coveart-url", "track-name"}));
    EXPECT_EQ(StringOf(msg, kKeyCoverArtUrl), "http://img/1.jpg");
    double duration = 0.0;
    EXPECT_TRUE(msg->findDouble(kKeyTotalDuration, &duration));
    EXPECT_EQ(duration, 61.5);
    EXPECT_TRUE(
        mLog.has("castobserver: HandleMediaMetadata() Metadata type 0 not handled!", LOG_ERR));
}

TEST_F(CastSessionTest, MediaRecordsWithHolesAreReadSafely) {
    startTapped();
    mTap->swallow({kWhatMediaStatus});
    std::shared_ptr<CastControlObserver> observer = mController->observer();

    chromecast::MediaImage image;  // an image without a URL
    chromecast::MediaMetadata metadata;
    metadata.metadataType = 3;  // a music track without its track record, and no title
    metadata.images = &image;
    metadata.imageCount = 1;
    chromecast::MediaInfo info;
    info.streamType = 1;
    info.duration = std::numeric_limits<double>::quiet_NaN();
    info.metadata = &metadata;
    chromecast::MediaStatus status;
    status.mediaSessionId = 9;
    status.playerState = 1;
    status.currentTime = std::numeric_limits<double>::infinity();
    status.idleReason = 42;
    status.mediaInfo = &info;
    observer->OnMediaStatus(status);

    metadata.images = nullptr;  // a count without images
    metadata.imageCount = 3;
    status.currentTime = -1e300;
    observer->OnMediaStatus(status);
    settle();

    auto taken = mTap->taken(kWhatMediaStatus);
    ASSERT_EQ(taken.size(), 2u);
    for (const auto& msg : taken) EXPECT_EQ(StringOf(msg, kKeyCoverArtUrl), "");
    EXPECT_FALSE(taken[0]->contains(kKeyTrackName));
    EXPECT_TRUE(mLog.has("castobserver: OnMediaStatus() idle reason: UNKNOWN"));
}

TEST_F(CastSessionTest, PlayPositionIsPublishedEverySecondWhilePlaying) {
    startTapped();
    mTap->swallow({kWhatMediaStatus});
    auto positions = [&] { return daemonWrites(kMidPlayPosition); };
    auto expectPositions = [&](const Names& want) {
        EXPECT_TRUE(WaitFor([&] { return positions() == want; }))
            << "last: " << (positions().empty() ? "none" : positions().back());
    };

    Fakes().castMedia(Media(2, 12.7));
    deliver();
    expectPositions({"12000"});
    mClock.advance(kSecond);
    expectPositions({"12000", "13000"});

    // A pause ends the ticks with the position the pause brought.
    Fakes().castMedia(Media(3, 40.2));
    deliver();
    mClock.advance(kSecond);
    expectPositions({"12000", "13000", "40000"});

    // Paused time publishes nothing; playing again publishes at once. A position below zero
    // is never sent as such.
    mClock.advance(5 * kSecond);
    Fakes().castMedia(Media(2, 3.0));
    deliver();
    expectPositions({"12000", "13000", "40000", "3000"});
    Fakes().castMedia(Media(3, -3.2));
    deliver();
    mClock.advance(kSecond);
    expectPositions({"12000", "13000", "40000", "3000", "0"});

    // Playing at the very start is not playing yet.
    Fakes().castMedia(Media(2, 0.0));
    deliver();
    mClock.advance(kSecond);

    // A disconnect stops the ticks too; the last one carries the position counted so far.
    Fakes().castMedia(Media(2, 7.5));
    deliver();
    expectPositions({"12000", "13000", "40000", "3000", "0", "7000"});
    Fakes().castDisconnect();
    deliver();
    mClock.advance(kSecond);
    expectPositions({"12000", "13000", "40000", "3000", "0", "7000", "8000"});
    // That was the last one: a reporter still ticking would write within the window.
    mClock.advance(kSecond);
    EXPECT_FALSE(WaitFor([&] { return positions().size() > 7; }, std::chrono::milliseconds(200)));
}

TEST_F(CastSessionTest, DisconnectGivesTheSpeakerBackOnlyWhenCastHasIt) {
    startTapped();
    // The controller's own clean-up belongs to the audio-focus tests.
    mTap->swallow({kWhatControlDisconnected, kWhatCastResponse});
    auto disconnectWithSource = [&](const std::string& source) {
        Fakes().appWrite(kMidCurrentSource, source);
        Fakes().castConnect();
        Fakes().castDisconnect();
        deliver();
    };

    disconnectWithSource("24");
    EXPECT_EQ(sourceCalls(), (Names{"UpdatePlayerState(1)", "DisconnectMySource()"}));
    EXPECT_TRUE(mLog.has("castobserver: HandleGracefulCleanup() Entered ++", LOG_INFO));
    EXPECT_EQ(mTap->taken(kWhatControlDisconnected).size(), 1u);

    disconnectWithSource("0");
    EXPECT_TRUE(mLog.has("castobserver: Current Source : 0, ignore clean up!", LOG_NOTICE));
    disconnectWithSource("");
    EXPECT_TRUE(mLog.has("castobserver: Current Source : , ignore clean up!", LOG_NOTICE));
    disconnectWithSource("12");
    EXPECT_EQ(mLog.count("ignore clean up!"), 2u);
    EXPECT_EQ(sourceCalls().size(), 2u);
    EXPECT_EQ(mLog.count("HandleGracefulCleanup() Entered ++"), 4u);

    Fakes().castRespond(7, -3);
    deliver();
    EXPECT_TRUE(mLog.has(
        "castobserver: OnResponse() Received response for request id 7, cast error -3 ", LOG_INFO));
    sp<AMessage> response = onlyTaken(kWhatCastResponse);
    EXPECT_EQ(Int32Of(response, kKeyRequestId), 7);
    EXPECT_EQ(Int32Of(response, kKeyResultMsg), -3);
}
