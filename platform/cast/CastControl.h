// The cast receiver library's object interface: the control, its observer and the records
// the observer is given. Text members are NUL-terminated and may be null.
#pragma once

#include <cstdint>
#include <string>

namespace chromecast {

struct RunningApp {
    const char* appName = nullptr;
};

struct CastStatus {
    const char* name = nullptr;
    int32_t castState = 0;
    const char* buildNumber = nullptr;
    const char* timezone = nullptr;
    const char* locale = nullptr;
    bool usageReport = false;
    const RunningApp* runningApp = nullptr;
};

struct MediaImage {
    const char* url = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

struct MusicTrackMediaMetadata {
    const char* albumName = nullptr;
    const char* albumArtist = nullptr;
    const char* artist = nullptr;
};

struct MediaMetadata {
    const char* title = nullptr;
    const MediaImage* images = nullptr;
    int32_t imageCount = 0;
    int32_t metadataType = 0;
    const MusicTrackMediaMetadata* musicTrack = nullptr;
};

struct MediaInfo {
    int32_t streamType = 0;
    double duration = 0.0;
    const MediaMetadata* metadata = nullptr;
};

struct MediaStatus {
    int32_t mediaSessionId = 0;
    int32_t playerState = 0;
    double currentTime = 0.0;
    int32_t idleReason = 4;
    const MediaInfo* mediaInfo = nullptr;
};

class CastControl {
public:
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void OnControlConnected() = 0;
        virtual void OnControlDisconnected() = 0;
        virtual void OnResponse(int32_t requestId, int32_t castError) = 0;
        virtual void OnCastStatus(const CastStatus& status) = 0;
        virtual void OnMediaStatus(const MediaStatus& status) = 0;
    };

    // The control bound to the receiver at socketPath, reporting to observer (not owned);
    // null when it cannot be made.
    static CastControl* Create(const std::string& socketPath, Observer* observer);

    virtual ~CastControl() = default;

    // Each returns the request id of the request sent, -1 when it was not sent.
    virtual int32_t AcceptTos() = 0;
    virtual int32_t SetDeviceName(const std::string& name) = 0;
    virtual int32_t SetTimezone(const std::string& zone) = 0;
    virtual int32_t SetUsageReportOptIn(bool optIn) = 0;
    virtual int32_t SendPlayCommand(int32_t command) = 0;
    virtual int32_t RequestCastStatus() = 0;
    virtual int32_t SetMultizoneDelay(int64_t delayUs) = 0;
    virtual void Suspend(int32_t reason) = 0;
};

}  // namespace chromecast
