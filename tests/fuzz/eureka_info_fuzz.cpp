// The receiver's setup-information document, as a completed transfer hands it over: parsed
// and its consent flags copied into the settings. A hash of the body picks what the settings
// held before, so a body meets stored values that agree with it and ones that do not.
#include <json/json.h>
#include <syslog.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "core/EurekaInfo.h"
#include "platform/device/EnvItems.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/LogCapture.h"

using orvix::fuzz::LogCapture;
namespace model = orvix::model;

namespace {

const char* const kStored[] = {nullptr, "true", "false", "TRUE", ""};

// The body as the fetch's reader sees it: an object, or nothing.
bool ParseObject(const std::string& body, Json::Value* root) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    try {
        return reader->parse(body.data(), body.data() + body.size(), root, nullptr) &&
               root->isObject();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LogCapture* const log = new LogCapture();  // outlives every logging thread
    model::SettingsStore& settings = orvix::fakes::Fakes().world().settings();
    const std::string body(reinterpret_cast<const char*>(data), size);

    log->clear();
    settings.reset();
    const size_t pick = std::hash<std::string>()(body);
    const char* storedTos = kStored[pick % 5];
    const char* storedCrash = kStored[(pick / 5) % 5];
    if (storedTos) settings.set(kGoogleCastTOS, storedTos, model::Origin::App);
    if (storedCrash) settings.set(kGoogleCastUsageReport, storedCrash, model::Origin::App);

    ApplyEurekaInfo(body);

    size_t writes = 0;
    for (const model::SettingChange& change : settings.changes()) {
        if (change.from != model::Origin::Daemon) continue;
        ++writes;
        FUZZ_CHECK(change.key == kGoogleCastTOS || change.key == kGoogleCastUsageReport,
                   "wrote setting %s", change.key.c_str());
        FUZZ_CHECK(change.value == "true" || change.value == "false", "wrote %s=%s",
                   change.key.c_str(), change.value.c_str());
    }
    FUZZ_CHECK(writes <= 2, "%zu setting writes", writes);

    Json::Value parsed;
    if (!ParseObject(body, &parsed)) {
        FUZZ_CHECK(writes == 0, "a body that is no object changed %zu settings", writes);
        FUZZ_CHECK(log->count("castcontroller: ReadEurekaInfoCurl() Failed to parse", LOG_ERR) == 1,
                   "no parse error line");
        return 0;
    }
    // A boolean flag is copied as it is; without "opt_in" the crash flag is false.
    const Json::Value& root = parsed;
    const Json::Value& tos = root["tos_accepted"];
    if (tos.isBool() || tos.isNull()) {
        FUZZ_CHECK(settings.value(kGoogleCastTOS) == (tos.asBool() ? "true" : "false"),
                   "terms setting %s", settings.value(kGoogleCastTOS).c_str());
    }
    const Json::Value& crash = root["crash"];
    if (!root.isMember("opt_in") || crash.isBool() || crash.isNull()) {
        const bool expected = root.isMember("opt_in") && crash.asBool();
        FUZZ_CHECK(settings.value(kGoogleCastUsageReport) == (expected ? "true" : "false"),
                   "usage-report setting %s", settings.value(kGoogleCastUsageReport).c_str());
    }
    return 0;
}
