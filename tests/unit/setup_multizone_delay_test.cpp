// The multi-room delay: the text's reading, its unit, the request to the receiver and the
// retry while the receiver refuses it.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::fakes::ManualClock;
using orvix::model::CastOp;

namespace {

constexpr int64_t kSecond = 1000000;

class MultizoneDelayTest : public orvix::test::DaemonTest {
protected:
    void SetUp() override {
        DaemonTest::SetUp();
        android::SetSystemClock(&mClock);
    }

    void TearDown() override {
        DaemonTest::TearDown();
        android::SetSystemClock(nullptr);
    }

    // The delays the receiver was asked for, in order.
    std::vector<int64_t> requestedDelays() {
        std::vector<int64_t> delays;
        for (const auto& call : world().receiver().calls()) {
            if (call.op == CastOp::SetMultizoneDelay) delays.push_back(call.args[0].asInt64());
        }
        return delays;
    }

    void postDelay(const std::string& text) {
        sp<AMessage> msg = new AMessage(kWhatMultizoneDelay);
        msg->setString(kKeyMultizoneDelay, text.c_str(), static_cast<ssize_t>(text.size()));
        postAndSettle(msg);
    }

    ManualClock mClock;
};

struct DelayCase {
    const char* text;
    int64_t requested;
    bool readable;  // false: the exception line, and no "micro sec" line
};

}  // namespace

TEST_F(MultizoneDelayTest, TextsBecomeMicrosecondsAndUnreadableOnesRequestZero) {
    startController();
    const DelayCase cases[] = {
        {"250", 250000, true},
        {"-1000", -1000000, true},
        {"1000", 1000000, true},
        {"1000.5", 1000, true},
        {"1500", 1500, true},
        {"-1000.5", -1000, true},
        {" 42abc", 42000, true},
        {"0x1p3", 8000, true},  // strtod reads hexadecimal floats too
        {"", 0, false},
        {"abc", 0, false},
        {"   ", 0, false},
        {"1e400", 0, false},
        {"-1e400", 0, false},
        {"1e-400", 0, false},  // too small for a double is a range error as well
        // Not a delay any receiver can take; converting them to an integer is undefined.
        {"inf", 0, false},
        {"-infinity", 0, false},
        {"nan", 0, false},
        // Finite but beyond 64 bits: held at the largest delay rather than wrapped.
        {"1e300", INT64_MAX, true},
        {"-1e300", INT64_MIN, true},
    };
    int32_t id = world().receiver().nextRequestId();
    for (const DelayCase& c : cases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        mLog.clear();
        size_t before = requestedDelays().size();
        postDelay(c.text);

        std::vector<int64_t> delays = requestedDelays();
        ASSERT_EQ(delays.size(), before + 1);
        EXPECT_EQ(delays.back(), c.requested);
        EXPECT_EQ(CastControllerPeer::multizoneRequestId(*mController), id);
        std::vector<orvix::test::LogLine> lines = mLog.lines();
        if (c.readable) {
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0].text, "castcontroller: HandleMultiZoneDelay() Multizone delay:" +
                                         std::to_string(c.requested) + " micro sec");
            EXPECT_EQ(lines[0].priority, LOG_NOTICE);
        } else {
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0].text,
                      "castcontroller: HandleMultiZoneDelay() Exception caught! -> stod");
            EXPECT_EQ(lines[0].priority, LOG_ERR);
        }
        EXPECT_EQ(lines[1].priority, LOG_NOTICE);
        EXPECT_EQ(lines[1].text.rfind("castcontroller: HandleMultiZoneDelay() Multizone delay:", 0),
                  0u)
            << lines[1].text;
        EXPECT_NE(lines[1].text.find(", Request ID:" + std::to_string(id) + ", Successful ?: YES!"),
                  std::string::npos)
            << lines[1].text;
        ++id;
    }
    // The summary carries the delay as a double.
    mLog.clear();
    postDelay("250");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleMultiZoneDelay() Multizone delay:250000.000000, "
                 "Request ID:" +
                     std::to_string(id) + ", Successful ?: YES!",
                 LOG_NOTICE));

    // A message without the field reads as the empty text.
    mLog.clear();
    postAndSettle(new AMessage(kWhatMultizoneDelay));
    EXPECT_EQ(requestedDelays().back(), 0);
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleMultiZoneDelay() Exception caught! -> stod", LOG_ERR));
}

TEST_F(MultizoneDelayTest, ARefusedRequestComesBackASecondLaterUntilTheReceiverTakesIt) {
    startController();
    world().receiver().refuse("SetMultizoneDelay");
    CastControllerPeer::setMultizoneRequestId(*mController, 7);
    postDelay(" 250ms");
    EXPECT_EQ(requestedDelays(), (std::vector<int64_t>{250000}));
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(*mController), -1);
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleMultiZoneDelay() Multizone delay:250000.000000, "
                 "Request ID:-1, Successful ?: NO",
                 LOG_NOTICE));

    // Not before the second is up, then with the same text.
    mClock.advance(kSecond - 1);
    settle();
    EXPECT_EQ(requestedDelays().size(), 1u);
    mClock.advance(1);
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return requestedDelays().size() == 2; }));
    settle();
    EXPECT_EQ(requestedDelays(), (std::vector<int64_t>{250000, 250000}));
    EXPECT_EQ(mLog.count("Successful ?: NO"), 2u);

    // Once taken, the chain ends and the id is kept.
    world().receiver().refuse("none");
    int32_t id = world().receiver().nextRequestId();
    mClock.advance(kSecond);
    ASSERT_TRUE(orvix::fakes::WaitFor([&] { return requestedDelays().size() == 3; }));
    settle();
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(*mController), id);
    mClock.advance(5 * kSecond);
    settle();
    EXPECT_EQ(requestedDelays().size(), 3u);

    // The next connection does not send it again.
    mLog.clear();
    Fakes().castConnect();
    Fakes().drain();
    settle();
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnControlConnected() Multizone delay has already "
                 "set! mMultizoneRequestId : " +
                     std::to_string(id),
                 LOG_NOTICE));
    EXPECT_EQ(requestedDelays().size(), 3u);
}

TEST_F(MultizoneDelayTest, TheStoredDelayGoesOutAtConnectionAndNothingWithoutAControl) {
    startLooperAndBus();
    postDelay("250");
    EXPECT_TRUE(world().receiver().calls().empty());
    EXPECT_FALSE(mLog.has("HandleMultiZoneDelay"));

    ASSERT_TRUE(mController->Init());
    ASSERT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
    world().settings().set(kGoogleCastPlayerLatency, "120", orvix::model::Origin::App);
    Fakes().castConnect();
    Fakes().drain();
    settle();
    EXPECT_EQ(requestedDelays(), (std::vector<int64_t>{120000}));
    EXPECT_NE(CastControllerPeer::multizoneRequestId(*mController), -1);
}
