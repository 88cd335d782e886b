// The device's timezone carried to the receiver when the owner app announces it on the bus.
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using model::Origin;

TEST_F(DaemonTest, TheTimezoneSettingGoesToTheReceiverAndIsRememberedOnlyWhenSent) {
    const std::string prefix = "castcontroller: HandleOEMTimezoneData() ";
    auto announce = [&](const std::string& zone) {
        if (!zone.empty()) world().settings().set(kTimeZone, zone, Origin::App);
        mLog.clear();
        Fakes().appWrite(kMidOemTimezone, "");
        deliver();
        Names texts = mLog.texts();
        return texts.size() < 2 ? texts : Names(texts.end() - 2, texts.end());
    };
    startLooperAndBus();
    EXPECT_EQ(announce("Europe/Berlin"),
              (Names{prefix + "Set Timezone request!",
                     prefix + "cast control is unreachable! update while accepting ToS"}));
    EXPECT_TRUE(mLog.has("Set Timezone request!", LOG_INFO));
    EXPECT_TRUE(mLog.has("cast control is unreachable!", LOG_NOTICE));
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "");

    destroyController();
    startController();
    EXPECT_EQ(announce("").back(), prefix + "Timezone data is empty! data:''");
    EXPECT_TRUE(mLog.has("Timezone data is empty!", LOG_ERR));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), -1);

    int32_t id = world().receiver().nextRequestId();
    EXPECT_EQ(announce("Europe/Berlin").back(),
              prefix + "timezone:Europe/Berlin request id:" + std::to_string(id));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), id);
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Europe/Berlin");

    // Refused: the id becomes -1, the remembered zone stays the one last sent.
    world().receiver().refuse("SetTimezone");
    EXPECT_EQ(announce("Asia/Tokyo").back(), prefix + "timezone:Asia/Tokyo request id:-1");
    EXPECT_TRUE(mLog.has("request id:-1", LOG_NOTICE));
    EXPECT_EQ(CastControllerPeer::timezoneRequestId(*mController), -1);
    EXPECT_EQ(CastControllerPeer::timezone(*mController), "Europe/Berlin");
    EXPECT_EQ(since(0, "cast:SetTimezone"),
              (Names{"cast:SetTimezone[\"Europe/Berlin\"]", "cast:SetTimezone[\"Asia/Tokyo\"]"}));
    // The daemon only passes the zone on; it never writes the setting itself here.
    EXPECT_EQ(settingWrites(kTimeZone), Names{});
}

}  // namespace orvix::test
