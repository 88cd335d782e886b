// The cast library's records as the observer receives them, and what the controller's looper
// then makes of them: texts null or not, any numbers (NaN and infinities included), any
// number of images with an array to match. One input is a short series of records, one per
// line, so that a record meets what earlier ones left behind. A timezone the daemon accepts is
// applied to /data/time, so this target runs only in the sandbox (scripts/in-sandbox.sh).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cast/CastControlObserver.h"
#include "device/ZoneName.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/ControllerHarness.h"

using orvix::fuzz::ControllerHarness;

namespace {

const char kLinkPath[] = "/data/time/localtime";
const char kZoneFile[] = "/data/time/timezone";
const char kZoneDir[] = "/usr/share/zoneinfo/";

// One record per line: a kind ("status", "media" or "response") and tab-separated fields.
// "key=value" sets a field; "key" alone makes it present but null (a text, the running app's
// name, an image's URL); an absent field is null or the record's default. Numbers are read by
// strtod or strtoll ("nan", "inf", "-2147483648"...), integers cut to 32 bits as the library
// would hand them over. Each "image" adds one image, so the count always matches the array.
class Record {
public:
    explicit Record(const std::string& line) {
        size_t start = 0;
        while (start <= line.size()) {
            size_t end = line.find('\t', start);
            if (end == std::string::npos) end = line.size();
            std::string field = line.substr(start, end - start);
            size_t equals = field.find('=');
            if (start == 0) {
                mKind = field;
            } else if (field == "image" || field.compare(0, 6, "image=") == 0) {
                mImages.emplace_back();
                if (equals != std::string::npos) mImageUrls.push_back(field.substr(equals + 1));
                mImageHasUrl.push_back(equals != std::string::npos);
            } else if (equals == std::string::npos) {
                mNull.push_back(field);
            } else {
                mFields.emplace_back(field.substr(0, equals), field.substr(equals + 1));
            }
            start = end + 1;
        }
        size_t url = 0;
        for (size_t i = 0; i < mImages.size(); ++i) {
            if (mImageHasUrl[i]) mImages[i].url = mImageUrls[url++].c_str();
        }
    }

    void deliver(CastControlObserver& observer) {
        if (mKind == "status") {
            chromecast::CastStatus status;
            status.name = text("name");
            status.castState = integer("state", 0);
            status.buildNumber = text("build");
            status.timezone = text("timezone");
            status.locale = text("locale");
            status.usageReport = integer("usage", 0) != 0;
            chromecast::RunningApp app;
            if (has("app")) {
                app.appName = text("app");
                status.runningApp = &app;
            }
            observer.OnCastStatus(status);
        } else if (mKind == "media") {
            chromecast::MusicTrackMediaMetadata track;
            track.albumName = text("album");
            track.albumArtist = text("albumArtist");
            track.artist = text("artist");
            chromecast::MediaMetadata metadata;
            metadata.title = text("title");
            metadata.metadataType = integer("type", 0);
            metadata.images = mImages.empty() ? nullptr : mImages.data();
            metadata.imageCount = static_cast<int32_t>(mImages.size());
            if (has("album") || has("albumArtist") || has("artist")) metadata.musicTrack = &track;
            chromecast::MediaInfo info;
            info.streamType = integer("stream", 0);
            info.duration = real("duration");
            if (has("title") || has("type") || !mImages.empty() || metadata.musicTrack) {
                info.metadata = &metadata;
            }
            chromecast::MediaStatus status;
            status.mediaSessionId = integer("session", 0);
            status.playerState = integer("state", 0);
            status.currentTime = real("time");
            status.idleReason = integer("idle", 4);
            if (has("stream") || has("duration") || info.metadata) status.mediaInfo = &info;
            observer.OnMediaStatus(status);
        } else if (mKind == "response") {
            observer.OnResponse(integer("id", 0), integer("code", 0));
        }
    }

private:
    const std::string* find(const char* key) const {
        for (const auto& field : mFields) {
            if (field.first == key) return &field.second;
        }
        return nullptr;
    }
    bool has(const char* key) const {
        return find(key) != nullptr || std::find(mNull.begin(), mNull.end(), key) != mNull.end();
    }
    const char* text(const char* key) const {
        const std::string* value = find(key);
        return value ? value->c_str() : nullptr;
    }
    int32_t integer(const char* key, int32_t otherwise) const {
        const std::string* value = find(key);
        return value ? static_cast<int32_t>(std::strtoll(value->c_str(), nullptr, 0)) : otherwise;
    }
    double real(const char* key) const {
        const std::string* value = find(key);
        return value ? std::strtod(value->c_str(), nullptr) : 0.0;
    }

    std::string mKind;
    std::vector<std::pair<std::string, std::string>> mFields;
    std::vector<std::string> mNull;
    std::vector<chromecast::MediaImage> mImages;
    std::vector<std::string> mImageUrls;
    std::vector<bool> mImageHasUrl;
};

// Whatever the receiver sent, the zone link and file name a zone under the zoneinfo folder.
void CheckTimeFiles() {
    char target[4096];
    ssize_t n = readlink(kLinkPath, target, sizeof(target) - 1);
    if (n >= 0) {
        std::string link(target, static_cast<size_t>(n));
        FUZZ_CHECK(link.compare(0, std::strlen(kZoneDir), kZoneDir) == 0 &&
                       IsZoneName(link.substr(std::strlen(kZoneDir))),
                   "zone link points at %s", link.c_str());
    }
    std::ifstream file(kZoneFile);
    std::string zone((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(zone.empty() || IsZoneName(zone), "timezone file holds %s", zone.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* sandboxed = std::getenv("ORVIX_IN_SANDBOX");
    if (sandboxed == nullptr || std::strcmp(sandboxed, "1") != 0) {
        std::fprintf(stderr,
                     "observer_records_fuzz writes /data/time: run it in the sandbox "
                     "(scripts/in-sandbox.sh, or ./dev fuzz)\n");
        std::exit(2);
    }
    // The file must exist for the daemon to write it.
    int fd = open(kZoneFile, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    ControllerHarness& harness = ControllerHarness::Get();
    // Cast statuses are handled only while the control is connected.
    harness.controller().observer()->OnControlConnected();
    harness.quiesce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ControllerHarness& harness = ControllerHarness::Get();
    std::shared_ptr<CastControlObserver> observer = harness.controller().observer();
    harness.world().reset();
    harness.forgetRequests();
    harness.log().clear();

    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (int records = 0; records < 8 && start < input.size(); ++records) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        Record(input.substr(start, end - start)).deliver(*observer);
        start = end + 1;
    }
    harness.quiesce();
    CheckTimeFiles();
    return 0;
}
