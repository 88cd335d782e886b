// Media status on the controller: the now-playing record sent to the UI manager when it
// changed, the gaps it fills, and the statuses that mean the session is over.
#include <limits>

#include "tests/unit/CastTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::model::UiField;
using orvix::model::UiUpdate;
using orvix::test::CastSessionTest;

namespace {

// A kWhatMediaStatus message as the observer builds it; unset fields stay out.
struct MediaMsg {
    std::optional<int32_t> playerState, streamType, sessionId;
    std::optional<double> duration;
    std::optional<std::string> cover, track, album, albumArtist, artist;

    sp<AMessage> build() const {
        sp<AMessage> msg = new AMessage(kWhatMediaStatus);
        if (playerState) msg->setInt32(kKeyPlayerState, *playerState);
        if (streamType) msg->setInt32(kKeyStreamType, *streamType);
        if (duration) msg->setDouble(kKeyTotalDuration, *duration);
        if (cover) msg->setString(kKeyCoverArtUrl, cover->c_str());
        if (track) msg->setString(kKeyTrackName, track->c_str());
        if (album) msg->setString(kKeyAlbumName, album->c_str());
        if (albumArtist) msg->setString(kKeyAlbumArtist, albumArtist->c_str());
        if (artist) msg->setString(kKeyArtistName, artist->c_str());
        if (sessionId) msg->setInt32(kKeySessionId, *sessionId);
        return msg;
    }
};

MediaMsg Song() {
    MediaMsg m;
    m.streamType = 1;
    m.duration = 215.5;
    m.cover = "http://art/1.jpg";
    m.track = "Song";
    m.album = "Album";
    m.artist = "Artist";
    return m;
}

std::vector<UiField> Shown(const std::string& album, const std::string& artist,
                           const std::string& cover, int32_t totalTime, const std::string& track) {
    return {UiField::string("album", album),
            UiField::string("artist", artist),
            UiField::string("coverArt", cover),
            UiField::int32("playState", 0),
            UiField::int32("totalTime", totalTime),
            UiField::string("trackName", track),
            UiField::int32("next", 1),
            UiField::int32("prev", 1),
            UiField::int32("repeat", -1),
            UiField::int32("shuffle", -1),
            UiField::int32("seek", 0),
            UiField::int32("currentSource", 24)};
}

}  // namespace

class NowPlayingTest : public CastSessionTest {
protected:
    void media(const MediaMsg& m) { postAndSettle(m.build()); }

    std::vector<UiUpdate> metadataUpdates() {
        std::vector<UiUpdate> out;
        for (const auto& update : world().ui().updates()) {
            if (update.kind == UiUpdate::Kind::Metadata) out.push_back(update);
        }
        return out;
    }
};

TEST_F(NowPlayingTest, TrackIsShownOnceUntilSomethingChanges) {
    startTapped();
    media(Song());
    auto shown = metadataUpdates();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].fields, Shown("Album", "Artist", "http://art/1.jpg", 215500, "Song"));
    EXPECT_TRUE(
        mLog.has("castcontroller: updateMetadata() Entered, duration 215500.000000 ms", LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: sp<IVemoTransport> getInstance()", LOG_ERR));

    media(Song());
    EXPECT_EQ(metadataUpdates().size(), 1u);
    MediaMsg newCover = Song();
    newCover.cover = "http://art/2.jpg";
    media(newCover);
    shown = metadataUpdates();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].fields, Shown("Album", "Artist", "http://art/2.jpg", 215500, "Song"));
    NowPlayingInfo now = CastControllerPeer::nowPlaying(*mController);
    EXPECT_EQ(now.coverArt, "http://art/2.jpg");
    EXPECT_EQ(now.totalTime, 215500.0);

    // A buffered stream needs a usable duration.
    for (double bad : {0.0, -3.0, std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
        MediaMsg noDuration = Song();
        noDuration.track = "Other";
        noDuration.duration = bad;
        media(noDuration);
    }
    MediaMsg absent = Song();
    absent.track = "Other";
    absent.duration.reset();
    media(absent);
    EXPECT_EQ(metadataUpdates().size(), 2u);
}

TEST_F(NowPlayingTest, LiveStreamsAreShownOnEveryChangeOtherStreamsNever) {
    startTapped();
    MediaMsg live;
    live.streamType = 2;
    live.track = "Morning Show";
    live.artist = "Radio One";
    live.cover = "http://art/live.jpg";
    media(live);
    media(live);
    live.duration = std::numeric_limits<double>::quiet_NaN();
    media(live);
    live.track = "Evening Show";
    media(live);
    auto shown = metadataUpdates();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].fields, Shown("", "Radio One", "http://art/live.jpg", -1, "Morning Show"));
    EXPECT_EQ(shown[1].fields[5], UiField::string("trackName", "Evening Show"));

    MediaMsg none = Song();
    none.track = "Unseen";
    none.streamType = 0;
    media(none);
    none.streamType.reset();
    media(none);
    none.streamType = 3;
    media(none);
    EXPECT_EQ(metadataUpdates().size(), 2u);
}

TEST_F(NowPlayingTest, MissingTextsAreFilledFromAppNameAlbumArtistAndDefaultArt) {
    startTapped();
    NowPlayingInfo withApp;
    withApp.appName = "Radio App";
    CastControllerPeer::setNowPlaying(*mController, withApp);

    MediaMsg bare;
    bare.streamType = 2;
    bare.album = "";
    bare.albumArtist = "The Band";
    media(bare);
    auto shown = metadataUpdates();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].fields, Shown("The Band", "", "defaultArt.jpg", -1, "Radio App"));
    // Taking the record over keeps the app name, which only the cast status sets.
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).appName, "Radio App");
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "Radio App");
}

TEST_F(NowPlayingTest, SessionIdZeroEndsTheSessionUnlessALiveStreamIsStillGoing) {
    startTapped();
    const char kNoSession[] =
        "castcontroller: HandleOnMediaStatus() Session ID: 0 No active cast session!";
    auto cleanUps = [&] { return mLog.count("castcontroller: HandleGracefulCleanUp()"); };

    MediaMsg buffered = Song();
    buffered.sessionId = 0;
    buffered.playerState = 2;
    media(buffered);
    EXPECT_TRUE(mLog.has(kNoSession, LOG_NOTICE));
    EXPECT_GT(cleanUps(), 0u);
    EXPECT_LT(mLog.indexOf(kNoSession), mLog.indexOf("castcontroller: HandleGracefulCleanUp()"));
    EXPECT_TRUE(metadataUpdates().empty());

    MediaMsg live;
    live.streamType = 2;
    live.track = "Morning Show";
    live.sessionId = 0;
    live.playerState = 2;
    mLog.clear();
    media(live);
    live.playerState.reset();  // the player state did not change: absent counts as 0
    live.track = "Noon Show";
    media(live);
    EXPECT_FALSE(mLog.has(kNoSession));
    EXPECT_EQ(cleanUps(), 0u);
    EXPECT_EQ(metadataUpdates().size(), 2u);

    live.playerState = 1;
    media(live);
    EXPECT_EQ(mLog.count(kNoSession), 1u);
    EXPECT_GT(cleanUps(), 0u);
    EXPECT_EQ(metadataUpdates().size(), 2u);

    // Without a session id the status is never the end of one.
    MediaMsg unknown = Song();
    unknown.track = "Encore";
    unknown.playerState = 1;
    media(unknown);
    EXPECT_EQ(mLog.count(kNoSession), 1u);
    EXPECT_EQ(metadataUpdates().size(), 3u);
}

TEST_F(NowPlayingTest, UnavailableUiStillTakesTheRecordAndAClearedRecordIsSentAgain) {
    startTapped();
    world().ui().setUp(false);
    EXPECT_EQ(CastController::getInstance(), nullptr);
    media(Song());
    EXPECT_TRUE(mLog.has("castcontroller: updateMetadata() can not update metadata to UIManager!",
                         LOG_ERR));
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).trackName, "Song");

    // Looked up on every call: the service is found as soon as it is back.
    world().ui().setUp(true);
    EXPECT_NE(CastController::getInstance(), nullptr);
    media(Song());
    EXPECT_TRUE(metadataUpdates().empty());

    NowPlayingInfo withApp = CastControllerPeer::nowPlaying(*mController);
    withApp.appName = "Radio App";
    CastControllerPeer::setNowPlaying(*mController, withApp);
    mController->ClearNowPlaying();
    NowPlayingInfo cleared = CastControllerPeer::nowPlaying(*mController);
    EXPECT_EQ(cleared.trackName, "");
    EXPECT_EQ(cleared.coverArt, "");
    EXPECT_EQ(cleared.totalTime, 0.0);
    EXPECT_EQ(cleared.appName, "Radio App");
    media(Song());
    EXPECT_EQ(metadataUpdates().size(), 1u);
    EXPECT_EQ(mLog.count("getInstance()"), 4u);
}
