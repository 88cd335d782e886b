// The device's volume text (source-switch notifications, the bus's MID 64) to a volume.
#include <syslog.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/VolumeMute.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/LogCapture.h"

using orvix::fuzz::LogCapture;

namespace {

// The text's value when it is a plain decimal number (blanks before it, a sign, digits and
// nothing after) small enough to read exactly; -2 for anything else.
long long PlainNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 12) return -2;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return -2;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LogCapture* const log = new LogCapture();  // outlives every logging thread
    log->clear();
    const std::string text(reinterpret_cast<const char*>(data), size);

    const int volume = ConvertStringtoInteger(text, true);
    const int strict = ConvertStringtoInteger(text, false);
    FUZZ_CHECK(volume >= 0 && volume <= 100, "volume %d", volume);
    FUZZ_CHECK(strict == -1 || strict == volume, "%d without default, %d with", strict, volume);
    if (strict == -1) {
        FUZZ_CHECK(volume == 30, "unusable text gave %d instead of the default", volume);
        FUZZ_CHECK(log->count("castcontroller: ConvertStringtoInteger() ", LOG_ERR) == 2,
                   "unusable text without its error lines");
    }

    // Plain numbers in range are taken as they are, the empty text as 0, the rest refused.
    const long long plain = text.empty() ? 0 : PlainNumber(text);
    if (plain >= 0 && plain <= 100) {
        FUZZ_CHECK(strict == plain, "text of %lld read as %d", plain, strict);
    } else if (plain != -2 || text.find('\0') != std::string::npos) {
        FUZZ_CHECK(strict == -1, "out-of-range or cut text read as %d", strict);
    }
    return 0;
}
