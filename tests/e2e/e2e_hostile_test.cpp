// Hostile input on every side the daemon listens to: bus payloads of every kind on every MID it
// reads, cast records whose texts are null, empty or huge and whose numbers are outside their
// tables, and suspend alerts with junk payloads. After each the daemon still runs and still
// answers a GET, and nothing it was sent went missing on the way.
#include <unistd.h>

#include <map>

#include "tests/e2e/RobustSupport.h"

namespace orvix::e2e {
namespace {

const size_t kHuge = 1u << 20;

std::string Deep(size_t depth, const std::string& open, const std::string& inner,
                 const std::string& close) {
    std::string text;
    text.reserve(depth * (open.size() + close.size()) + inner.size());
    for (size_t i = 0; i < depth; ++i) text += open;
    text += inner;
    for (size_t i = 0; i < depth; ++i) text += close;
    return text;
}

// What a payload on MID 571 comes to.
enum class Outcome { Nothing, InvalidJson, NoRequestType, UnknownType, Reply };

struct Payload {
    const char* label;
    std::string bytes;
    Outcome onRequestMid;
};

std::vector<Payload> HostilePayloads() {
    std::string binary;
    for (int i = 1; i <= 65536; ++i) binary.push_back(static_cast<char>((i * 7) & 0xff));
    const std::string get = R"({"request_type":"get","id":"tos","device_uuid":)";
    return {
        {"empty", "", Outcome::Nothing},
        {"1 MiB of text", std::string(kHuge, 'x'), Outcome::InvalidJson},
        {"64 KiB of every byte value", binary, Outcome::InvalidJson},
        {"a NUL first", std::string("\0", 1) + get + "\"nul\"}", Outcome::InvalidJson},
        {"no JSON", "{request_type: get", Outcome::InvalidJson},
        {"cut short", get, Outcome::InvalidJson},
        {"an array", "[1,2,3]", Outcome::InvalidJson},
        {"a string", "\"get\"", Outcome::InvalidJson},
        {"arrays 100000 deep", Deep(100000, "[", "", "]"), Outcome::InvalidJson},
        {"objects 100000 deep", Deep(100000, "{\"a\":", "1", "}"), Outcome::InvalidJson},
        {"a request with a member 100000 deep",
         get + "\"deep\",\"x\":" + Deep(100000, "[", "", "]") + "}", Outcome::InvalidJson},
        {"no request type", R"({"id":"tos","device_uuid":"x"})", Outcome::NoRequestType},
        {"request type in capitals", R"({"request_type":"GET","id":"tos","device_uuid":"x"})",
         Outcome::UnknownType},
        {"request type a number", R"({"request_type":7,"id":"tos","device_uuid":"x"})",
         Outcome::UnknownType},
        {"request type an array", R"({"request_type":["get"],"id":"tos","device_uuid":"x"})",
         Outcome::InvalidJson},
        {"device_uuid an object", R"({"request_type":"get","id":"tos","device_uuid":{"a":1}})",
         Outcome::InvalidJson},
        {"set with members of the wrong kind",
         R"({"request_type":"set","id":{"x":1},"action":["accepted"],"device_uuid":"x","user_ip":1})",
         Outcome::InvalidJson},
        {"device_uuid of bytes that are no UTF-8", get + "\"\xff\xfe\xc3\"}", Outcome::Reply},
        {"device_uuid of 1 MiB", get + "\"" + std::string(kHuge, 'u') + "\"}", Outcome::Reply},
    };
}

// The payloads for MIDs that are read for state rather than alerted with: they are written
// and read one at a time, so a few of each kind.
std::vector<Payload> StatePayloads() {
    std::vector<Payload> picked;
    for (const Payload& p : HostilePayloads()) {
        const std::string label = p.label;
        if (label == "empty" || label == "1 MiB of text" || label == "64 KiB of every byte value" ||
            label == "a NUL first" || label == "no JSON" || label == "arrays 100000 deep" ||
            label == "device_uuid of bytes that are no UTF-8") {
            picked.push_back(p);
        }
    }
    return picked;
}

// The text a C string would hold: up to the first NUL.
std::string UpToNul(const std::string& bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

class HostileInputTest : public RobustTest {
protected:
    std::vector<std::string> writes(int mid, const std::vector<Payload>& payloads) {
        std::vector<std::string> lines;
        for (const Payload& p : payloads) {
            lines.push_back("bus write " + std::to_string(mid) + " " + BatchWord(p.bytes));
        }
        return lines;
    }

    size_t alertLines(int mid) {
        return daemonLines("castcontroller: MessageBoxAlert() Received VEMO alert for MID " +
                           std::to_string(mid) + " TID:")
            .size();
    }
};

TEST_F(HostileInputTest, EveryPayloadOnEveryAlertedMidIsSurvivedAndNoneIsLost) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const std::vector<Payload> payloads = HostilePayloads();
    const size_t n = payloads.size();

    // MID 571: client requests. Only the two well-formed GETs get replies; what each other
    // payload comes to is logged at error level.
    batchOk(writes(571, payloads));
    ASSERT_TRUE(answersGet("after-571", 30s));
    std::vector<std::string> replies = daemonReplies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_NE(replies[0].find(R"("device_uuid":"\ufffd\ufffd\ufffd")"), std::string::npos)
        << replies[0];
    EXPECT_NE(replies[1].find("\"" + std::string(kHuge, 'u') + "\""), std::string::npos);
    std::map<Outcome, size_t> expected;
    for (const Payload& p : payloads) ++expected[p.onRequestMid];
    const auto errors = [&](const char* text) {
        const auto lines =
            daemonLines(std::string("castcontroller: HandleClientRequest() ") + text);
        for (const Json::Value& line : lines) EXPECT_EQ(line["priority"].asInt(), 3);
        return lines.size();
    };
    EXPECT_EQ(errors("Invalid json object to parse! Error:"), expected[Outcome::InvalidJson]);
    EXPECT_EQ(errors("json data hasn't contain request type key member!"),
              expected[Outcome::NoRequestType]);
    EXPECT_EQ(errors("Request type unspecified can't handle request!"),
              expected[Outcome::UnknownType]);
    EXPECT_EQ(alertLines(571), n + 1);

    // MID 90: the device's name. Every payload that is not empty as a C string goes to the
    // receiver, byte for byte.
    batchOk(writes(90, payloads));
    ASSERT_TRUE(answersGet("after-90", 30s));
    std::vector<std::string> names;
    for (const Payload& p : payloads) {
        if (!UpToNul(p.bytes).empty()) names.push_back(UpToNul(p.bytes));
    }
    const auto setName = WithOp(ctl({"cast", "log"}), "SetDeviceName");
    ASSERT_EQ(setName.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(setName[i]["args"][0].asString(), names[i]) << i;
    }
    EXPECT_EQ(alertLines(90), n);

    // MID 573: its payload is not read; the zone comes from the settings store, which gets
    // the same payloads one by one. An empty zone is refused with a log line, any other goes
    // to the receiver as it is.
    const std::vector<Payload> stored = StatePayloads();
    std::vector<std::string> zones;
    for (size_t i = 0; i < stored.size(); ++i) {
        const std::string word = BatchWord(stored[i].bytes);
        const std::string barrier = "zone-" + std::to_string(i);
        batchOk({"env set TimeZone " + word, "bus write 573 " + word, GetLine(barrier)});
        ASSERT_TRUE(waitReply(barrier, 30s)) << stored[i].label;
        if (!stored[i].bytes.empty()) zones.push_back(stored[i].bytes);
    }
    const auto setZone = WithOp(ctl({"cast", "log"}), "SetTimezone");
    ASSERT_EQ(setZone.size(), zones.size());
    for (size_t i = 0; i < zones.size(); ++i) {
        EXPECT_EQ(setZone[i]["args"][0].asString(), zones[i]) << i;
    }
    EXPECT_EQ(daemonLines("castcontroller: HandleOEMTimezoneData() Timezone data is empty!").size(),
              stored.size() - zones.size());
    EXPECT_EQ(alertLines(573), stored.size());

    // MID 572: the daemon's own reply MID; an alert for it is only logged.
    batchOk(writes(572, payloads));
    ASSERT_TRUE(answersGet("after-572", 30s));
    EXPECT_EQ(alertLines(572), n);
    EXPECT_EQ(daemonReplies().size(), 3 + 1 + stored.size() + 1);
    EXPECT_TRUE(mDaemon.running());
}

// MID 64 (device volume) is read when cast gets the speaker, MID 50 (current source) when the
// receiver disconnects. Neither can be made to do anything but the documented fallback.
TEST_F(HostileInputTest, VolumeAndSourceTextsReadForStateFallBackSafely) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(waitCastOps("CastCliSyncVolume", 1));
    std::vector<Payload> payloads = StatePayloads();
    payloads.push_back({"overflowing digits", std::string(kHuge, '9'), Outcome::Nothing});
    for (const char* text : {"-1", "101", " 42", "42 ", "0x10", "4294967338", "24\n"}) {
        payloads.push_back({text, text, Outcome::Nothing});
    }
    // One at a time: the daemon reads the MIDs when it gets there, not when they are written.
    for (size_t i = 0; i < payloads.size(); ++i) {
        SCOPED_TRACE(payloads[i].label);
        const std::string word = BatchWord(payloads[i].bytes);
        batchOk({"bus write 50 " + word, "cast disconnect", "bus write 64 " + word,
                 "cast request-resources"});
        // The observer reads MID 50 before the library's next callback, the controller before
        // the looper's next message.
        ASSERT_TRUE(waitCastOps("CastCliSyncVolume", i + 2));
        ASSERT_TRUE(answersGet("state-" + std::to_string(i)));
    }
    const size_t n = payloads.size();
    // Text that is not a whole number from 0 to 100 is the default volume, 30, every time
    // (strtol skips leading blanks, so " 42" is 42).
    const auto volumes = WithOp(ctl({"cast", "log"}), "CastCliSyncVolume");
    ASSERT_EQ(volumes.size(), n + 1);
    for (size_t i = 1; i < volumes.size(); ++i) {
        const std::string text = payloads[i - 1].bytes;
        EXPECT_EQ(volumes[i]["args"][0].asInt(), text == " 42" ? 42 : 30) << payloads[i - 1].label;
    }
    // No source text but exactly "24" is cast's, so the speaker is never given back.
    const Json::Value source = ctl({"source", "log"});
    EXPECT_TRUE(WithOp(source, "DisconnectMySource").empty());
    EXPECT_EQ(WithOp(source, "PlayMySource").size(), n);
}

TEST_F(HostileInputTest, CastRecordsWithNullEmptyHugeAndOutOfTableMembers) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ctl({"cast", "connect"});
    // One member of 1 MiB, or all five at once as large as a frame of the simulator's
    // protocol allows (4 MiB).
    const std::string huge = BatchWord(std::string(kHuge, 'h'));
    const std::string large = BatchWord(std::string(700 * 1024, 'l'));
    const std::string bytes = BatchWord(std::string("\x01\xff\xfe/..\x7f", 7));
    batchOk({
        "cast status --state 6",  // every text null, no running-app record
        "cast status --state 6 --app-without-name",
        "cast status --name '' --build '' --locale '' --timezone '' --app ''",
        "cast status --name " + huge,
        "cast status --name " + large + " --build " + large + " --locale " + large +
            " --timezone " + large + " --app " + large,
        "cast status --name " + bytes + " --timezone " + bytes + " --locale " + bytes,
        "cast status --name '' --build '' --locale '' --timezone '' --app ''",
        "cast status --state 0 --name ignored",
        "cast status --state 1 --name ignored",
        "cast status --state -1 --name after-negative-state",
        "cast status --state 2147483647 --name after-huge-state",
    });
    ASSERT_TRUE(waitCtl(
        {"bus", "read", "90"},
        [](const Json::Value& r) { return r["payload"].asString() == "after-huge-state"; }, 60s));
    ASSERT_TRUE(answersGet("after-status"));
    // The huge name went all the way: bus, local bus and settings store.
    const Json::Value busLog = ctl({"bus", "log"});
    size_t hugeNames = 0;
    for (const Json::Value& w : busLog) {
        hugeNames += w["mid"].asInt() == 90 && w["payload"].asString().size() == kHuge;
    }
    EXPECT_EQ(hugeNames, 2u);
    EXPECT_EQ(
        daemonLines("castobserver: OnCastStatus() Ignoring unknown and starting state!").size(),
        2u);
    // No zone but a well-formed one touches the zone link.
    EXPECT_NE(access("/data/time/localtime", F_OK), 0);
    EXPECT_TRUE(ctl({"env", "get", "TimeZone"})["value"].asString().empty());

    const std::vector<std::string> media{
        "cast media --state 3 --time 0 --stream 1 --duration 100",
        "cast media --state 3 --time 0 --stream 1 --duration 100 --image-without-url",
        "cast media --state 3 --time 0 --stream 1 --duration 101 --title '' --artist '' --album "
        "'' --album-artist '' --image ''",
        "cast media --state 3 --time 0 --stream 1 --duration 102 --title " + large + " --artist " +
            large + " --album " + large + " --album-artist " + large + " --image " + large,
        "cast media --state -1 --time 1e12 --idle-reason -1 --stream -1 --duration 1e300",
        "cast media --state 5 --time -1e12 --idle-reason 5 --stream 3 --duration -5",
        "cast media --state 99 --time 0 --idle-reason 99 --stream 99 --duration 1 --title t "
        "--metadata-type 4",
        "cast media --state -2147483648 --time 0 --session 0 --stream 2 --metadata-type -1 "
        "--title t",
        "cast media --state 2147483647 --time 0 --stream 1 --duration 9 --title last",
        // Handled after all of the above: its name on the bus says they are done.
        "cast status --name media-done",
    };
    batchOk(media);
    ASSERT_TRUE(waitCtl(
        {"bus", "read", "90"},
        [](const Json::Value& r) { return r["payload"].asString() == "media-done"; }, 60s));
    ASSERT_TRUE(answersGet("after-media"));
    const Json::Value ui = ctl({"ui", "log"});
    ASSERT_GE(ui.size(), 2u);
    EXPECT_EQ(ui[ui.size() - 1]["fields"]["trackName"].asString(), "last");
    // The large record was shown whole.
    bool shown = false;
    for (const Json::Value& update : ui) {
        const Json::Value& f = update["fields"];
        shown = shown || (f["trackName"].asString().size() == 700 * 1024 &&
                          f["artist"].asString().size() == 700 * 1024 &&
                          f["album"].asString().size() == 700 * 1024 &&
                          f["coverArt"].asString().size() == 700 * 1024);
    }
    EXPECT_TRUE(shown);
    // Values outside the tables are named UNKNOWN and reported like the nearest rule says.
    EXPECT_EQ(daemonLines("castobserver: SetCastPlaybackState() playback state UNKNOWN").size(),
              5u);
    EXPECT_EQ(daemonLines("castobserver: OnMediaStatus() idle reason: UNKNOWN").size(), 3u);
    EXPECT_GE(daemonLines("castobserver: OnMediaStatus() media stream type UNKNOWN").size(), 1u);
    EXPECT_EQ(
        daemonLines("castobserver: HandleMediaMetadata() Metadata type 4 not handled!").size(), 1u);
    size_t buffering = 0;
    for (const Json::Value& call : WithOp(ctl({"source", "log"}), "UpdatePlayerState")) {
        buffering += call["args"][0].asInt() == 5;
    }
    EXPECT_EQ(buffering, 5u);
}

// A suspend alert stops the controller thread whatever its payload; the process, the looper
// and the bus stay. In a daemon of their own, as the first one ends the thread.
TEST_F(HostileInputTest, SuspendAlertsWithJunkPayloadsSuspendAndStopOnce) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const std::vector<Payload> all = HostilePayloads();
    const std::vector<Payload> payloads(all.begin(), all.begin() + 4);
    std::vector<std::string> lines;
    for (int mid : {150, 115, 37}) {
        for (const std::string& line : writes(mid, payloads)) lines.push_back(line);
    }
    batchOk(lines);
    ASSERT_TRUE(waitCastOps("Suspend", lines.size()));
    ASSERT_TRUE(waitCastOps("CastCliExit", 1));
    const Json::Value log = ctl({"cast", "log"});
    const auto suspends = WithOp(log, "Suspend");
    ASSERT_EQ(suspends.size(), lines.size());
    for (size_t i = 0; i < suspends.size(); ++i) {
        EXPECT_EQ(suspends[i]["args"][0].asInt(), i < payloads.size() ? 7 : 3) << i;
    }
    EXPECT_EQ(WithOp(log, "CastCliExit").size(), 1u);
    EXPECT_TRUE(answersGet("after-suspend"));
    ctl({"cast", "connect"});
    EXPECT_TRUE(waitCastOps("SetDeviceName", 1));
    EXPECT_TRUE(mDaemon.running());
}

}  // namespace
}  // namespace orvix::e2e
