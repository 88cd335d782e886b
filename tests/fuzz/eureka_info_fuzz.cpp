// The receiver's setup document as a completed transfer hands it over: parsed, and its
// consent flags copied into the settings (the rules themselves are the setup-document table's).
// A hash of the body picks what the settings held before, so a body meets stored values that
// agree with it and ones that do not.
#include <functional>

#include "core/EurekaInfo.h"
#include "core/JsonReader.h"
#include "tests/fuzz/Fuzz.h"

using namespace orvix::test;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Daemon& d = NextInput();
    const std::string body(reinterpret_cast<const char*>(data), size);
    static const char* const kStored[] = {nullptr, "true", "false", "TRUE", ""};
    const size_t pick = std::hash<std::string>()(body);
    if (kStored[pick % 5]) d.setSetting(kGoogleCastTOS, kStored[pick % 5]);
    if (kStored[pick / 5 % 5]) d.setSetting(kGoogleCastUsageReport, kStored[pick / 5 % 5]);

    ApplyEurekaInfo(body);

    const Lines writes = d.effects("setting:");
    FUZZ_CHECK(writes.size() <= 2, "%zu setting writes", writes.size());
    CheckConsentWrites(writes);
    // Read with the daemon's own limits: past them a body counts as no document at all.
    Json::Value root;
    std::string error;
    const bool document = orvix::ParseJson(body, &root, &error) && root.isObject();
    FUZZ_CHECK(document || (writes.empty() && d.log.count("Failed to parse", LOG_ERR) == 1),
               "a body that is no object: %zu writes", writes.size());
    return 0;
}
