// What differs on the speaker's 32-bit ARM: a 32-bit time_t and long, and thread stacks far
// smaller than a desktop's. These run on every target; on armhf they are the ones that bite.
#include <gmock/gmock.h>

#include <functional>
#include <limits>

#include "core/EurekaInfo.h"
#include "core/JsonReader.h"
#include "platform/android/Clock.h"
#include "platform/android/Thread.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// A thread with the stack a device may give: the controller thread asks for the platform's
// default, which there is a fraction of glibc's 8 MiB.
constexpr size_t kSmallStack = 128 * 1024;

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

void RunOnSmallStack(std::function<void()> body) {
    android::sp<SmallStackThread> thread = new SmallStackThread(std::move(body));
    ASSERT_EQ(thread->run("small-stack", android::PRIORITY_DEFAULT, kSmallStack), android::OK);
    ASSERT_EQ(thread->join(), android::OK);
}

std::string Nested(size_t depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

class SmallStackTest : public DaemonTest {};

}  // namespace

TEST(DurationToTimespec, SplitsMicrosecondsAndHoldsWhatTimeTCannotSay) {
    const int64_t maxSeconds = std::numeric_limits<time_t>::max();
    const struct {
        int64_t us;
        int64_t sec;
        long nsec;
    } exact[] = {{0, 0, 0}, {999999, 0, 999999000}, {1500000, 1, 500000000}};
    for (const auto& c : exact) {
        const timespec ts = android::DurationToTimespec(c.us);
        EXPECT_EQ(ts.tv_sec, c.sec) << c.us;
        EXPECT_EQ(ts.tv_nsec, c.nsec) << c.us;
    }
    // Just past 32-bit seconds, and the "forever" of INT64_MAX: never negative, never
    // shorter than asked unless time_t ends first.
    for (int64_t us : {(int64_t{1} << 31) * 1000000 + 5, std::numeric_limits<int64_t>::max()}) {
        const timespec ts = android::DurationToTimespec(us);
        EXPECT_EQ(static_cast<int64_t>(ts.tv_sec), std::min(us / 1000000, maxSeconds)) << us;
        EXPECT_GE(ts.tv_nsec, 0) << us;
        EXPECT_LT(ts.tv_nsec, 1000000000) << us;
    }
}

// Hostile nesting ends at the reader's limit long before a small stack does, and what the
// daemon really reads (a few levels, and a setup document with deeper members it skips)
// still gets through.
TEST_F(SmallStackTest, DeepJsonIsRefusedAndShallowJsonReadOnADeviceSizedStack) {
    RunOnSmallStack([&] {
        Json::Value root;
        std::string error;
        for (size_t depth : {size_t{kJsonMaxDepth} + 1, size_t{1000}, size_t{100000}}) {
            EXPECT_FALSE(ParseJson(Nested(depth, ""), &root, &error)) << depth;
            EXPECT_THAT(error, HasSubstr("stackLimit")) << depth;
        }
        EXPECT_TRUE(ParseJson(Nested(kJsonMaxDepth - 1, "1"), &root, &error)) << error;

        const std::string failed =
            "castcontroller: ReadEurekaInfoCurl() Failed to parse the cast eureka info json "
            "object! error:";
        ApplyEurekaInfo(R"({"tos_accepted":true,"deep":)" + Nested(100000, "") + "}");
        EXPECT_EQ(mLog.count(failed, LOG_ERR), 1u);
        EXPECT_EQ(since(0, "setting:"), Names{});
        ApplyEurekaInfo(R"({"tos_accepted":true,"device":)" + Nested(20, "{}") + "}");
        EXPECT_EQ(mLog.count(failed), 1u);
        EXPECT_EQ(since(0, "setting:GoogleCastTOS"), Names{"setting:GoogleCastTOS=true"});
    });
}

}  // namespace orvix::test
