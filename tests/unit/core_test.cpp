// The process entry, the looper dispatch, the message-bus bridge, suspend, the controller's
// end, and the reading of the receiver's setup document.
#include <json/json.h>

#include <atomic>
#include <functional>
#include <thread>

#include "core/EurekaInfo.h"
#include "core/JsonReader.h"
#include "core/OrvixCast.h"
#include "platform/android/BinderPool.h"
#include "tests/support/DaemonTest.h"

namespace orvix::test {

using android::AMessage;
using android::sp;
using fakes::Fakes;

namespace {

const std::string kGet = R"({"request_type":"get","id":"tos","device_uuid":"d"})";
const std::string kGetReply = R"({"crash_report":false,"device_uuid":"d","id":"status",)"
                              R"("status":"success","tos":"not_activated"})";

// Runs body on a stack the size a device gives a thread, a fraction of a desktop's 8 MiB.
// Nothing of gtest may run there: its per-thread records would outlive a thread that the
// foundation reports ended before its exit is through.
void OnSmallStack(std::function<void()> body) {
    struct Small : android::Thread {
        std::function<void()> body;
        bool threadLoop() override {
            body();
            return false;
        }
    };
    sp<Small> thread = new Small;
    thread->body = std::move(body);
    ASSERT_EQ(thread->run("small-stack", android::PRIORITY_DEFAULT, 128 * 1024), android::OK);
    ASSERT_EQ(thread->join(), android::OK);
}

std::string Nested(size_t depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

}  // namespace

class CoreTest : public DaemonTest {};

TEST_F(CoreTest, OnlyTheExactTextFalseSwitchesTheDaemonOff) {
    setSetting(kFeatureGoogleCast, "false");
    EXPECT_EQ(static_cast<uint8_t>(OrvixCastMain()), 255);
    for (const char* value : {"False", "false ", "0", ""}) {
        SCOPED_TRACE(std::string("'") + value + "'");
        Fakes().reset();
        setSetting(kFeatureGoogleCast, value);
        // The controller thread parks for good in its bus retry, on a clock that must outlive it.
        auto* parked = new fakes::ManualClock();
        android::SetSystemClock(parked);
        world().bus().setReachable(false);
        std::atomic<int> result{1};
        std::thread entry([&] { result = OrvixCastMain(); });
        EXPECT_TRUE(fakes::WaitFor([&] { return !parked->sleeps().empty(); }));
        EXPECT_EQ(result, 1);  // the main thread stays in the binder pool
        android::BinderPool::Shutdown();
        entry.join();
        EXPECT_EQ(result, 0);
        android::SetSystemClock(nullptr);
    }
}

TEST_F(CoreTest, DispatchDropsUnknownCodesAndHandlesADisconnectItself) {
    ASSERT_TRUE(start());
    log.clear();
    const size_t m = mark();
    for (uint32_t code : {0u, 3u, 34u, 40u}) ASSERT_TRUE(post(new AMessage(code)));
    EXPECT_EQ(log.count(""), 0u);
    // A disconnect while cast owns the speaker clears the flag and cleans up.
    ASSERT_TRUE(Fakes().appWrite(kMidCurrentSource, "24"));
    CastControllerPeer::controlConnected(controller()) = true;
    ASSERT_TRUE(post(new AMessage(kWhatControlDisconnected)));
    EXPECT_FALSE(CastControllerPeer::controlConnected(controller()));
    EXPECT_EQ(effects("", m), Lines{"ui:clear"});
}

TEST_F(CoreTest, AHandlerThatThrowsLosesItsMessageAndTheLooperGoesOn) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(request(R"({"request_type":"set","id":"crash_report","action":"no",)"
                        R"("device_uuid":"d","user_ip":""})"));
    Fakes().throwFrom("SetEnvItemByName", "store gone");
    ASSERT_TRUE(respond(1, 0));
    EXPECT_TRUE(log.has("message 37 dropped, its handler failed: store gone", LOG_ERR));
    Fakes().throwFrom("GetEnvItemByName", "");  // no std::exception: the process goes on
    ASSERT_TRUE(request(kGet));
    Fakes().throwFrom("", "");
    ASSERT_TRUE(request(kGet));
    EXPECT_EQ(effects("bus:572="), Lines{kGetReply});
}

TEST_F(CoreTest, BusAlertsBecomeMessagesOrSuspendsWithTheirPayloadUpToTheFirstNul) {
    startLooperAndBus();
    // Before the cast control exists a suspend or a name changes nothing.
    ASSERT_TRUE(Fakes().appWrite(kMidSuspendReason3, ""));
    ASSERT_TRUE(Fakes().appWrite(kMidDeviceName, "Kitchen"));
    ASSERT_TRUE(deliver());
    EXPECT_FALSE(CastControllerPeer::stopRequested(controller()));
    ASSERT_TRUE(controller().Init());
    tap->swallow({kWhatOemTimezone});
    const size_t m = mark();
    const std::string nul(1, '\0');
    const std::pair<int32_t, std::string> writes[] = {
        {kMidDeviceName, nul + "Den"},   {kMidClientRequest, nul + kGet},
        {kMidClientRequest, ""},         {kMidClientRequest, kGet + nul + "{junk"},
        {kMidOemTimezone, "ignored"},    {kMidClientReply, "echo"},
        {kMidDeviceName, "Living Room"}, {kMidDeviceName, ""},
        {kMidSuspendReason7, ""},        {kMidSuspendReason3, ""},
        {kMidSuspendReason3Alt, ""},
    };
    for (const auto& [mid, payload] : writes) ASSERT_TRUE(Fakes().appWrite(mid, payload));
    ASSERT_TRUE(deliver());
    world().receiver().refuse("SetDeviceName");
    ASSERT_TRUE(Fakes().appWrite(kMidDeviceName, "Den"));
    ASSERT_TRUE(deliver());
    EXPECT_EQ(effects("bus:", m), Lines{"572=" + kGetReply});
    EXPECT_EQ(effects("cast:SetDeviceName", m), (Lines{R"(["Living Room"])", R"(["Den"]=-1)"}));
    EXPECT_EQ(effects("cast:Suspend", m), (Lines{"[7]", "[3]", "[3]"}));
    EXPECT_TRUE(CastControllerPeer::stopRequested(controller()));
    EXPECT_EQ(tap->take(kWhatOemTimezone), Lines{"{}"});
    // What has no other effect: a refused name is not logged as set, MID 572 is only seen.
    EXPECT_EQ(log.count("requested cast to set new name"), 1u);
    EXPECT_TRUE(log.has("requested cast to set new name Living Room", LOG_INFO));
    EXPECT_EQ(log.count("Received VEMO alert for MID 572 ", LOG_INFO), 1u);
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
}

// The setup document is read on a stack the size a device gives a thread: nesting ends at the
// reader's limit long before the stack does.
TEST_F(CoreTest, TheSetupDocumentCopiesTheConsentWhereItDiffers) {
    const std::string t = "GoogleCastTOS=", c = "GoogleCastUsageReport=";
    const std::string unparsed = "Failed to parse the cast eureka info";
    const struct {
        std::string body, tos, crash;  // the document; the stored values
        Lines written;
        std::string error;  // a part of the one error line, if any
    } rows[] = {
        // clang-format off
        // Without "opt_in" the crash member is not read: usage reports are off.
        {R"({"tos_accepted":true,"crash":true})", "false", "true", {t + "true", c + "false"}, ""},
        // With "opt_in", whatever it holds, the top-level "crash" counts.
        {R"({"opt_in":{"stats":false},"crash":true,"device":{"x":1}})", "", "false",
         {t + "false", c + "true"}, ""},
        {R"({"tos_accepted":true,"opt_in":null,"crash":true})", "true", "true", {}, ""},
        {R"({"tos_accepted":1,"opt_in":true,"crash":null})", "false", "true",
         {t + "true", c + "false"}, ""},
        // A member of another type leaves its own setting alone, and only that one.
        {R"({"tos_accepted":"yes","opt_in":true,"crash":true})", "false", "false",
         {c + "true"}, "tos_accepted is not a boolean"},
        {R"({"tos_accepted":true,"opt_in":true,"crash":[true]})", "false", "false",
         {t + "true"}, "crash is not a boolean"},
        {R"({"tos_accepted":true,"deep":)" + Nested(100000, "") + "}", "", "", {}, unparsed},
        {"[true]", "", "", {}, unparsed},
        // clang-format on
    };
    bool deepRefused = false, shallowRead = false;
    OnSmallStack([&] {
        Json::Value root;
        std::string error;
        deepRefused = !ParseJson(Nested(kJsonMaxDepth + 1, ""), &root, &error);
        shallowRead = ParseJson(Nested(kJsonMaxDepth - 1, "1"), &root, &error);
    });
    EXPECT_TRUE(deepRefused && shallowRead);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.body.substr(0, 60));
        world().settings().reset();
        setSetting(kGoogleCastTOS, row.tos);
        setSetting(kGoogleCastUsageReport, row.crash);
        log.clear();
        const size_t m = mark();
        OnSmallStack([&] { ApplyEurekaInfo(row.body); });
        EXPECT_EQ(effects("setting:", m), row.written);
        EXPECT_EQ(log.count("", LOG_ERR), row.error.empty() ? 0u : 1u);
        EXPECT_TRUE(log.has(row.error, LOG_ERR) || row.error.empty());
    }
}

}  // namespace orvix::test
