// The device's timezone carried to the receiver when the owner app announces it on the bus.
#include <string>
#include <vector>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"

using orvix::fakes::Fakes;
using orvix::model::CastOp;
using orvix::model::Origin;

namespace {

class DeviceTimezoneTest : public orvix::test::DaemonTest {
protected:
    // The owner app's announcement, as it reaches the daemon.
    void announce() {
        Fakes().appWrite(kMidOemTimezone, "");
        Fakes().drain();
        settle();
    }

    std::vector<std::string> sentZones() {
        std::vector<std::string> zones;
        for (const auto& call : world().receiver().calls()) {
            if (call.op == CastOp::SetTimezone) zones.push_back(call.args[0].asString());
        }
        return zones;
    }
};

}  // namespace

TEST_F(DeviceTimezoneTest, WithoutAControlTheChangeIsDroppedWithANotice) {
    startLooperAndBus();
    world().settings().set(kTimeZone, "Europe/Berlin", Origin::App);
    announce();
    std::vector<orvix::test::LogLine> lines = mLog.lines();
    int request = mLog.indexOf("castcontroller: HandleOEMTimezoneData() Set Timezone request!");
    ASSERT_GE(request, 0);
    EXPECT_EQ(lines[static_cast<size_t>(request)].priority, LOG_INFO);
    ASSERT_EQ(lines.size(), static_cast<size_t>(request) + 2);
    EXPECT_EQ(lines.back().text,
              "castcontroller: HandleOEMTimezoneData() cast control is unreachable! update while "
              "accepting ToS");
    EXPECT_EQ(lines.back().priority, LOG_NOTICE);
    EXPECT_TRUE(world().receiver().calls().empty());
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "");
}

TEST_F(DeviceTimezoneTest, TheSettingGoesToTheReceiverAndIsRememberedOnlyWhenSent) {
    startController();

    // Nothing stored: the empty-data line, nothing sent.
    announce();
    EXPECT_TRUE(mLog.has("castcontroller: HandleOEMTimezoneData() Timezone data is empty! data:''",
                         LOG_ERR));
    EXPECT_TRUE(sentZones().empty());
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), -1);

    world().settings().set(kTimeZone, "Europe/Berlin", Origin::App);
    int32_t id = world().receiver().nextRequestId();
    mLog.clear();
    announce();
    EXPECT_EQ(sentZones(), (std::vector<std::string>{"Europe/Berlin"}));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), id);
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Europe/Berlin");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOEMTimezoneData() timezone:Europe/Berlin request "
                 "id:" +
                     std::to_string(id),
                 LOG_NOTICE));
    EXPECT_FALSE(mLog.has("empty"));

    // Refused: the id becomes -1, the remembered zone stays the one last sent.
    world().receiver().refuse("SetTimezone");
    world().settings().set(kTimeZone, "Asia/Tokyo", Origin::App);
    mLog.clear();
    announce();
    EXPECT_EQ(sentZones(), (std::vector<std::string>{"Europe/Berlin", "Asia/Tokyo"}));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), -1);
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Europe/Berlin");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOEMTimezoneData() timezone:Asia/Tokyo request "
                 "id:-1",
                 LOG_NOTICE));
    // The daemon only passes the zone on; it never writes the setting itself here.
    for (const auto& change : world().settings().changes()) {
        EXPECT_EQ(change.from, Origin::App) << change.key;
    }
}
