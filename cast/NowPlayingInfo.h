// The now-playing record last shown on the UI.
#pragma once

#include <string>

struct NowPlayingInfo {
    std::string trackName;
    std::string artist;
    std::string album;
    std::string coverArt;
    double totalTime = 0.0;
    std::string appName;

    NowPlayingInfo() = default;
    NowPlayingInfo(const NowPlayingInfo&) = default;
    // Taking over a record keeps our own appName: the app name comes from the cast status,
    // not from the media status that builds the other members.
    NowPlayingInfo& operator=(const NowPlayingInfo& other) {
        trackName = other.trackName;
        artist = other.artist;
        album = other.album;
        coverArt = other.coverArt;
        totalTime = other.totalTime;
        return *this;
    }
};
