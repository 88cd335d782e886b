// The multi-room delay text from the settings store, as the controller's looper hands it to
// the receiver: whatever the text, exactly one request goes out, with the delay the "micro
// sec" line reports, or 0 after the exception line.
#include <syslog.h>

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/Messages.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/ControllerHarness.h"

using orvix::fuzz::ControllerHarness;
using orvix::fuzz::LogLine;
namespace model = orvix::model;

namespace {

// "-123" and the like: at most 12 digits, so the value is exact in a double.
bool PlainInteger(const std::string& text, long long* value) {
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size() || text.size() - i > 12) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = text[0] == '-' ? -v : v;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ControllerHarness& harness = ControllerHarness::Get();
    model::World& world = harness.world();
    const std::string payload(reinterpret_cast<const char*>(data), size);
    // The field travels as a C string.
    const std::string text(payload.c_str());

    world.reset();
    harness.log().clear();
    android::sp<android::AMessage> msg = new android::AMessage(kWhatMultizoneDelay);
    msg->setString(kKeyMultizoneDelay, payload.data(), static_cast<ssize_t>(payload.size()));
    harness.post(msg);

    std::vector<model::CastCall> calls = world.receiver().calls();
    FUZZ_CHECK(calls.size() == 1 && calls[0].op == model::CastOp::SetMultizoneDelay,
               "%zu receiver calls for one delay", calls.size());
    const int64_t requested = calls[0].args[0].asInt64();

    long long reported = 0;
    bool parsed = false;
    const std::string suffix = " micro sec";
    for (const LogLine& line : harness.log().lines()) {
        long long value = 0;
        if (line.priority == LOG_NOTICE && line.text.size() > suffix.size() &&
            line.text.compare(line.text.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            std::sscanf(line.text.c_str(),
                        "castcontroller: HandleMultiZoneDelay() Multizone delay:%lld",
                        &value) == 1) {
            FUZZ_CHECK(!parsed, "two delay lines for one message");
            parsed = true;
            reported = value;
        }
    }
    if (parsed) {
        FUZZ_CHECK(requested == reported, "requested %" PRId64 ", logged %lld", requested,
                   reported);
    } else {
        FUZZ_CHECK(requested == 0, "requested %" PRId64 " for unusable text", requested);
        FUZZ_CHECK(harness.log().count("castcontroller: HandleMultiZoneDelay() Exception caught! "
                                       "-> stod",
                                       LOG_ERR) == 1,
                   "unusable text without its error line");
    }

    // Whole numbers: milliseconds up to 1000 either way, microseconds beyond.
    long long whole = 0;
    if (!text.empty() && PlainInteger(text, &whole)) {
        const long long expected = (whole >= -1000 && whole <= 1000) ? whole * 1000 : whole;
        FUZZ_CHECK(requested == expected, "%s requested as %" PRId64, text.c_str(), requested);
    }
    return 0;
}
