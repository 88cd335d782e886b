// The multi-room delay: the text's reading, its unit, the request to the receiver and the
// retry while the receiver refuses it.
#include <gmock/gmock.h>

#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

namespace {

constexpr int64_t kSecond = 1000000;
const std::string kPrefix = "castcontroller: HandleMultiZoneDelay() ";

class MultizoneDelayTest : public DaemonTest {
protected:
    void SetUp() override {
        DaemonTest::SetUp();
        useTestClock();
        startController();
    }

    Names requests() { return since(0, "cast:SetMultizoneDelay"); }

    void postDelay(const std::string& text) {
        sp<AMessage> msg = new AMessage(kWhatMultizoneDelay);
        msg->setString(kKeyMultizoneDelay, text.c_str(), static_cast<ssize_t>(text.size()));
        postAndSettle(msg);
    }
};

std::string Request(int64_t delay) {
    return "cast:SetMultizoneDelay[" + std::to_string(delay) + "]";
}

}  // namespace

TEST_F(MultizoneDelayTest, TextsBecomeMicrosecondsAndUnreadableOnesRequestZero) {
    const struct {
        const char* text;
        int64_t requested;
        bool readable;  // false: the exception line instead of the "micro sec" line
    } cases[] = {
        // clang-format off
        {"250", 250000, true}, {"-1000", -1000000, true}, {"1000", 1000000, true},
        {"1000.5", 1000, true}, {"1500", 1500, true}, {" 42abc", 42000, true},
        {"", 0, false}, {"abc", 0, false}, {"1e400", 0, false},
        // Not a delay any receiver can take; converting them to an integer is undefined.
        {"inf", 0, false}, {"nan", 0, false},
        // Finite but beyond 64 bits: held at the largest delay rather than wrapped.
        {"1e300", INT64_MAX, true}, {"-1e300", INT64_MIN, true},
        // Beyond 32 bits and exact, as the speaker's 32-bit long could not hold them.
        {"5000000000", 5000000000, true}, {"-3000000000.9", -3000000000, true},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        int32_t id = world().receiver().nextRequestId();
        mLog.clear();
        postDelay(c.text);
        EXPECT_EQ(requests().back(), Request(c.requested));
        EXPECT_EQ(CastControllerPeer::multizoneRequestId(*mController), id);
        EXPECT_THAT(
            mLog.texts(),
            ElementsAre(
                c.readable
                    ? kPrefix + "Multizone delay:" + std::to_string(c.requested) + " micro sec"
                    : kPrefix + "Exception caught! -> stod",
                AllOf(StartsWith(kPrefix + "Multizone delay:"),
                      EndsWith(", Request ID:" + std::to_string(id) + ", Successful ?: YES!"))));
        EXPECT_EQ(mLog.count("", LOG_NOTICE), c.readable ? 2u : 1u);
    }
    // The summary carries the delay as a double; a message without the field reads as "".
    postDelay("250");
    EXPECT_TRUE(mLog.has(kPrefix + "Multizone delay:250000.000000, Request ID:"));
    postAndSettle(new AMessage(kWhatMultizoneDelay));
    EXPECT_EQ(requests().back(), Request(0));
    EXPECT_TRUE(mLog.has(kPrefix + "Exception caught! -> stod", LOG_ERR));
}

TEST_F(MultizoneDelayTest, ARefusedRequestComesBackASecondLaterUntilTheReceiverTakesIt) {
    world().receiver().refuse("SetMultizoneDelay");
    CastControllerPeer::multizoneRequestId(*mController) = 7;
    postDelay(" 250ms");
    EXPECT_EQ(requests(), Names{Request(250000)});
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(*mController), -1);
    EXPECT_TRUE(mLog.has(kPrefix + "Multizone delay:250000.000000, Request ID:-1, Successful ?: NO",
                         LOG_NOTICE));

    // Not before the second is up, then with the same text.
    mClock.advance(kSecond - 1);
    settle();
    EXPECT_EQ(requests().size(), 1u);
    mClock.advance(1);
    ASSERT_TRUE(WaitFor([&] { return requests().size() == 2; }));
    settle();
    EXPECT_EQ(requests(), (Names{Request(250000), Request(250000)}));
    EXPECT_EQ(mLog.count("Successful ?: NO"), 2u);

    // Once taken, the chain ends and the id is kept; the next connection does not send it.
    world().receiver().refuse("none");
    int32_t id = world().receiver().nextRequestId();
    mClock.advance(kSecond);
    ASSERT_TRUE(WaitFor([&] { return requests().size() == 3; }));
    settle();
    EXPECT_EQ(CastControllerPeer::multizoneRequestId(*mController), id);
    mClock.advance(5 * kSecond);
    Fakes().castConnect();
    deliver();
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnControlConnected() Multizone delay has already "
                 "set! mMultizoneRequestId : " +
                     std::to_string(id),
                 LOG_NOTICE));
    EXPECT_EQ(requests().size(), 3u);
}

}  // namespace orvix::test
