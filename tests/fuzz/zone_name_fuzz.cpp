// Zone names from cast statuses: what IsZoneName accepts becomes part of a path under the
// zoneinfo folder and of a logged command line, so it must stay a plain relative path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/ZoneName.h"
#include "tests/fuzz/support/Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string zone(reinterpret_cast<const char*>(data), size);
    if (!IsZoneName(zone)) return 0;

    FUZZ_CHECK(!zone.empty() && zone.size() <= 255, "accepted %zu bytes", zone.size());
    FUZZ_CHECK(zone.front() != '/' && zone.back() != '/', "accepted %s", zone.c_str());
    for (char c : zone) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '+' || c == '-' || c == '.' ||
                           c == '/';
        // No blank, quote, $, ;, |, &, `, *, ?, ~, <, >, NUL, newline or other control.
        FUZZ_CHECK(plain, "accepted byte 0x%02x", static_cast<unsigned char>(c));
    }
    // No component climbs (".", ".."), hides, is empty, or reads as an option of ln.
    size_t start = 0;
    while (start <= zone.size()) {
        size_t end = zone.find('/', start);
        if (end == std::string::npos) end = zone.size();
        const std::string part = zone.substr(start, end - start);
        FUZZ_CHECK(!part.empty() && part[0] != '.' && part[0] != '-', "accepted %s", zone.c_str());
        start = end + 1;
    }
    return 0;
}
