// The process entry, the looper dispatch, the message-bus bridge, suspend, the controller's
// end, and the reading of the receiver's setup document.
#include <json/json.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <thread>

#include "core/EurekaInfo.h"
#include "core/JsonReader.h"
#include "core/OrvixCast.h"
#include "platform/android/BinderPool.h"
#include "sim/model/JsonText.h"
#include "tests/support/DaemonTest.h"

namespace orvix::test {

using android::AMessage;
using android::sp;
using fakes::Fakes;

namespace {

const std::string kGet = R"({"request_type":"get","id":"tos","device_uuid":"d"})";
const std::string kGetReply =
    R"({"crash_report":false,"device_uuid":"d","id":"status","status":"success","tos":"not_activated"})";

size_t ThreadCount() {
    std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

sp<AMessage> Name(const char* name) {
    sp<AMessage> msg = new AMessage(kWhatSetCastName);
    msg->setString(kKeyCastDeviceName, name);
    return msg;
}

// A device thread's stack is a fraction of a desktop's 8 MiB.
class SmallStackThread : public android::Thread {
public:
    explicit SmallStackThread(std::function<void()> body) : mBody(std::move(body)) {}

private:
    bool threadLoop() override {
        mBody();
        return false;
    }
    std::function<void()> mBody;
};

std::string Nested(size_t depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

}  // namespace

class CoreTest : public DaemonTest {};

TEST_F(CoreTest, OnlyTheExactTextFalseSwitchesTheDaemonOff) {
    for (const char* value : {"false", "False", "false ", "0", ""}) {
        SCOPED_TRACE(std::string("'") + value + "'");
        Fakes().reset();
        setSetting(kFeatureGoogleCast, value);
        if (std::string(value) == "false") {
            const size_t threads = ThreadCount();
            EXPECT_EQ(static_cast<uint8_t>(OrvixCastMain()), 255);
            EXPECT_TRUE(log.has("ENV GoogleCast:false", LOG_ERR));
            EXPECT_EQ(ThreadCount(), threads);
            continue;
        }
        // The controller thread parks for good in its bus retry, on a clock that must outlive it.
        auto* parked = new fakes::ManualClock();
        android::SetSystemClock(parked);
        world().bus().setReachable(false);
        int result = 1;
        std::thread entry([&] { result = OrvixCastMain(); });
        EXPECT_TRUE(parked->waitForSleepers(1, std::chrono::seconds(5)));
        android::BinderPool::Shutdown();
        entry.join();
        EXPECT_EQ(result, 0);
        android::SetSystemClock(nullptr);
    }
}

TEST_F(CoreTest, DispatchDropsUnknownCodesAndHandlesNameAndDisconnectItself) {
    startLooperAndBus();
    ASSERT_TRUE(post(Name("Kitchen")));  // no cast control yet
    EXPECT_EQ(log.count("", LOG_ERR), 0u);
    ASSERT_TRUE(controller().Init());
    ASSERT_TRUE(log.waitFor("HandleCurrentTimeData() Entered"));
    log.clear();
    const size_t m = mark();
    for (uint32_t code : {0u, 3u, 34u, 40u}) ASSERT_TRUE(post(new AMessage(code)));
    ASSERT_TRUE(post(Name("")));
    EXPECT_EQ(log.lines(), Lines());
    ASSERT_TRUE(post(Name("Kitchen")));
    EXPECT_TRUE(log.has("requested cast to set new name Kitchen", LOG_INFO));
    world().receiver().refuse("SetDeviceName");
    log.clear();
    ASSERT_TRUE(post(Name("Den")));
    EXPECT_EQ(log.lines(), Lines());
    EXPECT_EQ(effects("", m),
              (Lines{R"(cast:SetDeviceName["Kitchen"])", R"(cast:SetDeviceName["Den"]=-1)"}));

    // A disconnect while cast owns the speaker clears the flag and cleans up.
    ASSERT_TRUE(Fakes().appWrite(kMidCurrentSource, "24"));
    CastControllerPeer::controlConnected(controller()) = true;
    const size_t before = mark();
    ASSERT_TRUE(post(new AMessage(kWhatControlDisconnected)));
    EXPECT_FALSE(CastControllerPeer::controlConnected(controller()));
    EXPECT_EQ(effects("", before), Lines{"ui:clear"});
}

TEST_F(CoreTest, AHandlerThatThrowsLosesItsMessageAndTheLooperGoesOn) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(request(
        R"({"request_type":"set","id":"crash_report","action":"no","device_uuid":"d","user_ip":""})"));
    Fakes().throwFrom("SetEnvItemByName", "store gone");
    ASSERT_TRUE(respond(1, 0));
    EXPECT_TRUE(log.has("message 37 dropped, its handler failed: store gone", LOG_ERR));
    Fakes().throwFrom("GetEnvItemByName", "");  // no std::exception
    ASSERT_TRUE(request(kGet));
    EXPECT_TRUE(log.has("message 1 dropped", LOG_ERR));
    Fakes().throwFrom("", "");
    const size_t m = mark();
    ASSERT_TRUE(request(kGet));
    EXPECT_EQ(effects("bus:572=", m), Lines{kGetReply});
}

TEST_F(CoreTest, BusAlertsBecomeMessagesWithTheirPayloadUpToTheFirstNul) {
    ASSERT_TRUE(start());
    EXPECT_EQ(model::compactJson(world().bus().listenersJson()[0]["mids"]),
              "[90,571,150,115,37,572,573]");
    tap->swallow({kWhatOemTimezone});
    log.clear();
    const size_t m = mark();
    const std::string nul(1, '\0');
    const std::pair<int32_t, std::string> writes[] = {
        {kMidDeviceName, nul + "Den"},   {kMidClientRequest, nul + kGet},
        {kMidClientRequest, ""},         {kMidClientRequest, kGet + nul + "{junk"},
        {kMidOemTimezone, "ignored"},    {kMidClientReply, "echo"},
        {kMidDeviceName, "Living Room"},
    };
    for (const auto& [mid, payload] : writes) ASSERT_TRUE(Fakes().appWrite(mid, payload));
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("", m),
              (Lines{"bus:572=" + kGetReply, R"(cast:SetDeviceName["Living Room"])"}));
    EXPECT_EQ(log.count("", LOG_ERR), 0u);
    EXPECT_EQ(tap->take(kWhatOemTimezone), Lines{"{}"});
    EXPECT_EQ(log.count("Received VEMO alert for MID 572 ", LOG_INFO), 1u);
}

TEST_F(CoreTest, SuspendAlertsSuspendTheControlWithTheirReasonOnceItExists) {
    startLooperAndBus();
    ASSERT_TRUE(Fakes().appWrite(kMidSuspendReason3, ""));
    ASSERT_TRUE(deliver());
    EXPECT_FALSE(CastControllerPeer::stopRequested(controller()));
    ASSERT_TRUE(controller().Init());
    for (int32_t mid : {kMidSuspendReason7, kMidSuspendReason3, kMidSuspendReason3Alt}) {
        ASSERT_TRUE(Fakes().appWrite(mid, ""));
    }
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("cast:Suspend"), (Lines{"[7]", "[3]", "[3]"}));
    EXPECT_TRUE(CastControllerPeer::stopRequested(controller()));
}

TEST_F(CoreTest, TheControllerUnregistersTheMidsItRegisteredWhenItGoes) {
    startLooperAndBus();
    const std::string client = world().bus().listenersJson()[0]["client"].asString() + " ";
    Fakes().setBusListener(client.substr(0, client.size() - 1), nullptr);
    CastControllerPeer::dismantle(controller());
    mController.clear();
    Lines notes;
    for (const std::string& line : world().timeline()) {
        if (line.find(client) != std::string::npos) notes.push_back(line.substr(line.find(client)));
    }
    const std::string mids = "90,571,150,115,37,572,573";
    EXPECT_EQ(notes, (Lines{client + "registered " + mids, client + "unregistered " + mids}));
    EXPECT_EQ(world().bus().listenersJson().size(), 0u);
}

// The setup document is read on a stack the size a device gives a thread: nesting ends at the
// reader's limit long before the stack does.
TEST_F(CoreTest, TheSetupDocumentCopiesTheConsentWhereItDiffers) {
    const std::string tos = "GoogleCastTOS=", crash = "GoogleCastUsageReport=";
    const std::string unparsed = "Failed to parse the cast eureka info";
    const struct {
        std::string body, tos, crash;  // the document; the stored values
        Lines written;
        std::string error;  // a part of the one error line, if any
    } rows[] = {
        // clang-format off
        // Without "opt_in" the crash member is not read: usage reports are off.
        {R"({"tos_accepted":true,"crash":true})", "false", "true", {tos + "true", crash + "false"}, ""},
        // With "opt_in", whatever it holds, the top-level "crash" counts.
        {R"({"opt_in":{"stats":false},"crash":true,"device":{"x":1}})", "", "false",
         {tos + "false", crash + "true"}, ""},
        {R"({"tos_accepted":true,"opt_in":null,"crash":true})", "true", "true", {}, ""},
        {R"({"tos_accepted":1,"opt_in":true,"crash":null})", "false", "true",
         {tos + "true", crash + "false"}, ""},
        // A member of another type leaves its own setting alone, and only that one.
        {R"({"tos_accepted":"yes","opt_in":true,"crash":true})", "false", "false",
         {crash + "true"}, "tos_accepted is not a boolean"},
        {R"({"tos_accepted":true,"opt_in":true,"crash":[true]})", "false", "false",
         {tos + "true"}, "crash is not a boolean"},
        {R"({"tos_accepted":true,"device":)" + Nested(20, "{}") + "}", "", "false", {tos + "true"}, ""},
        {R"({"tos_accepted":true,"deep":)" + Nested(100000, "") + "}", "", "", {}, unparsed},
        {"<html><body>Internal error</body></html>", "", "", {}, unparsed},
        {"", "", "", {}, unparsed},
        {"[true]", "", "", {}, unparsed},
        // clang-format on
    };
    sp<SmallStackThread> thread = new SmallStackThread([&] {
        Json::Value root;
        std::string error;
        EXPECT_FALSE(ParseJson(Nested(kJsonMaxDepth + 1, ""), &root, &error));
        EXPECT_TRUE(ParseJson(Nested(kJsonMaxDepth - 1, "1"), &root, &error)) << error;
        for (const auto& row : rows) {
            SCOPED_TRACE(row.body.substr(0, 60));
            world().settings().reset();
            setSetting(kGoogleCastTOS, row.tos);
            setSetting(kGoogleCastUsageReport, row.crash);
            log.clear();
            const size_t m = mark();
            ApplyEurekaInfo(row.body);
            EXPECT_EQ(effects("setting:", m), row.written);
            EXPECT_EQ(log.count("", LOG_ERR), row.error.empty() ? 0u : 1u);
            EXPECT_TRUE(log.has(row.error, LOG_ERR) || row.error.empty());
        }
    });
    ASSERT_EQ(thread->run("small-stack", android::PRIORITY_DEFAULT, 128 * 1024), android::OK);
    ASSERT_EQ(thread->join(), android::OK);
}

}  // namespace orvix::test
