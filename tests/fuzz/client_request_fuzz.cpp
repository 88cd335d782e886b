// Client requests as they come off the bus (MID 571), through intake, GET and SET to the
// reply. A hash of the payload picks the receiver's mood (refusing, answering with some code
// or silent) and the stored settings, so one payload meets several situations over a run.
#include <functional>

#include "sim/model/JsonText.h"
#include "tests/fuzz/Fuzz.h"

using namespace orvix::test;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Daemon& d = NextInput();
    const std::string payload(reinterpret_cast<const char*>(data), size);
    const size_t mood = std::hash<std::string>()(payload);
    if (mood % 3) d.setSetting(kGoogleCastTOS, mood % 3 == 1 ? "true" : "false");
    if ((mood >> 2) % 2) d.setSetting(kTimeZone, "Europe/Berlin");
    if ((mood >> 3) % 4 == 0) d.world().receiver().refuse("all");
    // Codes from -1 to 12: every reply text, and one outside the table.
    const bool answers = (mood >> 5) % 3 != 0;
    if (answers) d.world().receiver().setAutoRespond(static_cast<int32_t>((mood >> 7) % 14) - 1);
    FUZZ_CHECK(d.request(payload) && d.deliver(), "the looper hung");

    const Lines replies = d.effects("bus:572=");
    FUZZ_CHECK(replies.size() <= 1, "%zu replies to one request", replies.size());
    for (const std::string& text : replies) {
        Json::Value reply;
        FUZZ_CHECK(orvix::model::parseJson(text, &reply) && reply.isObject() && reply.size() == 5 &&
                       reply["status"].isString() && reply["id"].isString() &&
                       reply["device_uuid"].isString(),
                   "reply %s", text.c_str());
        const bool get = !reply.isMember("status_msg");
        FUZZ_CHECK(get ? reply["crash_report"].isBool() && reply["tos"].isString()
                       : reply["status_msg"].isString() && reply["action"].isString(),
                   "reply %s", text.c_str());
    }
    CheckConsentWrites(d.effects("setting:"));
    // A SET the receiver took is answered exactly when the receiver answers it.
    size_t taken = 0;
    for (const std::string& call : d.effects("cast:")) {
        taken += (call.rfind("AcceptTos", 0) == 0 || call.rfind("SetUsageReportOptIn", 0) == 0) &&
                 call.find("=-1") == std::string::npos;
    }
    FUZZ_CHECK(taken <= 1, "%zu consent requests for one payload", taken);
    FUZZ_CHECK(!taken || replies.size() == (answers ? 1u : 0u), "%zu replies", replies.size());
    return 0;
}
