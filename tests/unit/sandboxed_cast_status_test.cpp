// A receiver timezone reaching the device's zone link: runs only inside the private sandbox
// (scripts/in-sandbox.sh), where /data/time is the sandbox's own.
#include <limits.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/unit/CastTestSupport.h"

using android::AMessage;
using android::sp;

namespace {

std::string LinkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buffer, sizeof(buffer) - 1);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

class SandboxedCastStatusTest : public orvix::test::CastSessionTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "writes /data/time: run through scripts/in-sandbox.sh";
        }
        CastSessionTest::SetUp();
        unlink(kLocalTimeLinkPath.c_str());
    }

    void TearDown() override {
        CastSessionTest::TearDown();
        unlink(kLocalTimeLinkPath.c_str());
    }

    void statusWithZone(const std::string& zone) {
        sp<AMessage> msg = new AMessage(kWhatCastStatus);
        msg->setString(kKeyTimezone, zone.c_str());
        postAndSettle(msg);
    }
};

}  // namespace

TEST_F(SandboxedCastStatusTest, NewTimezoneIsHandedOnAndAKnownOneIsNot) {
    startTapped();
    statusWithZone("Europe/Berlin");
    EXPECT_EQ(LinkTarget(kLocalTimeLinkPath), "/usr/share/zoneinfo/Europe/Berlin");

    CastControllerPeer::setTimezone(*mController, "Europe/Paris");
    statusWithZone("Europe/Paris");
    EXPECT_EQ(LinkTarget(kLocalTimeLinkPath), "/usr/share/zoneinfo/Europe/Berlin");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnCastStatusResponse() cast Timezone: "
                 "Europe/Paris, Already set timezone: Europe/Paris",
                 LOG_INFO));
    statusWithZone("Asia/Tokyo");
    EXPECT_EQ(LinkTarget(kLocalTimeLinkPath), "/usr/share/zoneinfo/Asia/Tokyo");
}
