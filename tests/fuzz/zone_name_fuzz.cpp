// Zone names from cast statuses: what IsZoneName accepts becomes part of a path under the
// zoneinfo folder and of a logged command line, so it must stay a plain relative path.
#include <cstdint>
#include <string>

#include "device/ZoneName.h"
#include "tests/fuzz/Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string zone(reinterpret_cast<const char*>(data), size);
    if (!IsZoneName(zone)) return 0;
    FUZZ_CHECK(!zone.empty() && zone.size() <= 255, "accepted %zu bytes", zone.size());
    // No blank, quote, shell character, control byte or NUL; no part that is empty, climbs
    // ("..", "."), hides or reads as an option of ln.
    size_t part = 0;
    for (size_t i = 0; i <= zone.size(); ++i) {
        const char c = i < zone.size() ? zone[i] : '/';
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '+' || c == '-' || c == '.' ||
                           c == '/';
        FUZZ_CHECK(plain, "accepted byte 0x%02x", static_cast<unsigned char>(c));
        if (c != '/') continue;
        FUZZ_CHECK(i > part && zone[part] != '.' && zone[part] != '-', "accepted %s", zone.c_str());
        part = i + 1;
    }
    return 0;
}
