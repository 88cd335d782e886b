// The cast library's records as the observer receives them, and what the looper makes of
// them: texts null or not, any numbers (NaN and infinities included), any number of images.
// One input is a short series of records, so that a record meets what earlier ones left. A
// zone the daemon accepts is applied to /data/time: this target runs only in the sandbox.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "device/ZoneName.h"
#include "tests/fuzz/Fuzz.h"

using namespace orvix::test;

namespace {

// The records point into these texts; they live for one input.
struct Texts {
    FuzzedDataProvider& in;
    std::deque<std::string> kept;
    const char* next() {
        if (in.ConsumeBool()) return nullptr;
        kept.push_back(in.ConsumeRandomLengthString(64));
        return kept.back().c_str();
    }
};

double Number(FuzzedDataProvider& in) {
    static const double kOdd[] = {std::nan(""), INFINITY, -INFINITY, 0.0, -1.0, 1e300};
    return in.ConsumeBool() ? kOdd[in.ConsumeIntegralInRange<size_t>(0, 5)]
                            : in.ConsumeFloatingPoint<double>();
}

bool UnderZoneInfo(const std::string& path) {
    const std::string dir = "/usr/share/zoneinfo/";
    return path.compare(0, dir.size(), dir) == 0 && IsZoneName(path.substr(dir.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::getenv("ORVIX_IN_SANDBOX") == nullptr) {
        std::fprintf(stderr, "observer_records_fuzz writes /data/time: run it in the sandbox\n");
        std::exit(2);
    }
    close(open("/data/time/timezone", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    // Cast statuses are handled only while the control is connected.
    SharedDaemon().controller().observer()->OnControlConnected();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Daemon& d = NextInput();
    std::shared_ptr<CastControlObserver> observer = d.controller().observer();
    FuzzedDataProvider in(data, size);
    Texts text{in, {}};
    for (int records = 0; records < 8 && in.remaining_bytes() > 0; ++records) {
        const int kind = in.ConsumeIntegralInRange(0, 2);
        if (kind == 0) {
            chromecast::RunningApp app{text.next()};
            chromecast::CastStatus s{text.next(),
                                     in.ConsumeIntegral<int32_t>(),
                                     text.next(),
                                     text.next(),
                                     text.next(),
                                     in.ConsumeBool(),
                                     in.ConsumeBool() ? &app : nullptr};
            observer->OnCastStatus(s);
        } else if (kind == 1) {
            std::vector<chromecast::MediaImage> images(in.ConsumeIntegralInRange(0, 3));
            for (auto& image : images) image.url = text.next();
            chromecast::MusicTrackMediaMetadata track{text.next(), text.next(), text.next()};
            chromecast::MediaMetadata meta{
                text.next(), images.data(), static_cast<int32_t>(images.size()),
                in.ConsumeIntegral<int32_t>(), in.ConsumeBool() ? &track : nullptr};
            chromecast::MediaInfo info{in.ConsumeIntegralInRange(-1, 3), Number(in),
                                       in.ConsumeBool() ? &meta : nullptr};
            chromecast::MediaStatus s{
                in.ConsumeIntegralInRange(-1, 2), in.ConsumeIntegralInRange(-1, 5), Number(in),
                in.ConsumeIntegralInRange(-1, 5), in.ConsumeBool() ? &info : nullptr};
            observer->OnMediaStatus(s);
        } else {
            observer->OnResponse(in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>());
        }
    }
    FUZZ_CHECK(d.deliver(), "the looper hung");
    // Whatever the receiver sent, the zone link and file name a zone under the zoneinfo folder.
    std::error_code none;
    const std::string link = std::filesystem::read_symlink("/data/time/localtime", none);
    FUZZ_CHECK(link.empty() || UnderZoneInfo(link), "zone link %s", link.c_str());
    std::ifstream file("/data/time/timezone");
    const std::string zone(std::istreambuf_iterator<char>(file), {});
    FUZZ_CHECK(zone.empty() || IsZoneName(zone), "timezone file holds %s", zone.c_str());
    return 0;
}
