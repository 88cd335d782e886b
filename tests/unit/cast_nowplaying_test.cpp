// Media status on the controller: the now-playing record sent to the UI manager when it
// changed, the gaps it fills, and the statuses that mean the session is over.
#include <limits>

#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using std::nullopt;

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

const MediaMsg kSong{nullopt, 1,       nullopt, 215.5,   "http://art/1.jpg",
                     "Song",  "Album", nullopt, "Artist"};
const MediaMsg kLive{nullopt,        2,       nullopt, nullopt,    "http://art/live.jpg",
                     "Morning Show", nullopt, nullopt, "Radio One"};

// One metadata update to the UI, its fields in the order the daemon set them.
std::string Shown(const std::string& album, const std::string& artist, const std::string& cover,
                  int32_t totalTime, const std::string& track) {
    return "album=\"" + album + "\", artist=\"" + artist + "\", coverArt=\"" + cover +
           "\", playState=0, totalTime=" + std::to_string(totalTime) + ", trackName=\"" + track +
           "\", next=1, prev=1, repeat=-1, shuffle=-1, seek=0, currentSource=24";
}

class NowPlayingTest : public DaemonTest {
protected:
    void media(const MediaMsg& m) { postAndSettle(m.build()); }

    Names shown() {
        Names out;
        for (const auto& update : world().ui().updates()) {
            if (update.kind != model::UiUpdate::Kind::Metadata) continue;
            std::string text;
            for (const auto& field : update.fields) {
                text +=
                    (text.empty() ? "" : ", ") + field.key + "=" + model::compactJson(field.json());
            }
            out.push_back(text);
        }
        return out;
    }

    std::string track() { return CastControllerPeer::nowPlaying(*mController).trackName; }
};

}  // namespace

TEST_F(NowPlayingTest, BufferedTrackIsShownOnceUntilSomethingChanges) {
    startController();
    media(kSong);
    media(kSong);
    MediaMsg newCover = kSong;
    newCover.cover = "http://art/2.jpg";
    media(newCover);
    const Names both = {Shown("Album", "Artist", "http://art/1.jpg", 215500, "Song"),
                        Shown("Album", "Artist", "http://art/2.jpg", 215500, "Song")};
    EXPECT_EQ(shown(), both);
    EXPECT_TRUE(
        mLog.has("castcontroller: updateMetadata() Entered, duration 215500.000000 ms", LOG_INFO));
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).coverArt, "http://art/2.jpg");

    // A buffered stream needs a usable duration.
    MediaMsg other = kSong;
    other.track = "Other";
    for (double bad : {0.0, -3.0, std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
        other.duration = bad;
        media(other);
    }
    other.duration.reset();
    media(other);
    EXPECT_EQ(shown(), both);
}

TEST_F(NowPlayingTest, LiveStreamsAreShownOnEveryChangeOtherStreamsNever) {
    startController();
    MediaMsg live = kLive;
    media(live);
    media(live);
    live.duration = std::numeric_limits<double>::quiet_NaN();
    media(live);
    live.track = "Evening Show";
    media(live);
    MediaMsg none = kSong;
    none.track = "Unseen";
    for (std::optional<int32_t> type :
         {std::optional<int32_t>(0), std::optional<int32_t>(3), std::optional<int32_t>()}) {
        none.streamType = type;
        media(none);
    }
    EXPECT_EQ(shown(), (Names{Shown("", "Radio One", "http://art/live.jpg", -1, "Morning Show"),
                              Shown("", "Radio One", "http://art/live.jpg", -1, "Evening Show")}));
}

TEST_F(NowPlayingTest, MissingTextsAreFilledFromAppNameAlbumArtistAndDefaultArt) {
    startController();
    NowPlayingInfo withApp;
    withApp.appName = "Radio App";
    CastControllerPeer::setNowPlaying(*mController, withApp);
    media({nullopt, 2, nullopt, nullopt, nullopt, nullopt, "", "The Band", nullopt});
    EXPECT_EQ(shown(), Names{Shown("The Band", "", "defaultArt.jpg", -1, "Radio App")});
    // Taking the record over keeps the app name, which only the cast status sets.
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).appName, "Radio App");
    EXPECT_EQ(track(), "Radio App");
}

TEST_F(NowPlayingTest, SessionIdZeroEndsTheSessionUnlessALiveStreamIsStillGoing) {
    startController();
    const char kNoSession[] =
        "castcontroller: HandleOnMediaStatus() Session ID: 0 No active cast session!";
    const char kCleanUp[] = "castcontroller: HandleGracefulCleanUp()";
    MediaMsg buffered = kSong, livePlaying = kLive, liveSame = kLive, liveIdle = kLive;
    MediaMsg noSession = kSong;
    buffered.playerState = livePlaying.playerState = 2;
    liveIdle.playerState = 1;
    liveSame.track = "Noon Show";  // the player state did not change: absent counts as 0
    livePlaying.sessionId = liveSame.sessionId = liveIdle.sessionId = buffered.sessionId = 0;
    noSession.track = "Encore";
    noSession.playerState = 1;
    const struct {
        const char* name;
        MediaMsg msg;
        bool ends, shows;
    } rows[] = {{"BUFFERED", buffered, true, false},
                {"LIVE+PLAYING", livePlaying, false, true},
                {"LIVE without player state", liveSame, false, true},
                {"LIVE+IDLE", liveIdle, true, false},
                {"no session id", noSession, false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        size_t before = shown().size();
        mLog.clear();
        media(row.msg);
        EXPECT_EQ(mLog.has(kNoSession, LOG_NOTICE), row.ends);
        EXPECT_EQ(mLog.has(kCleanUp), row.ends);
        EXPECT_EQ(mLog.indexOf(kNoSession) < mLog.indexOf(kCleanUp), row.ends);
        EXPECT_EQ(shown().size(), before + row.shows);
    }
}

}  // namespace orvix::test
