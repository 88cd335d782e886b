// The controller's side of the connection and of the receiver's status: the device name
// given to the receiver, the delay and status requests on connection, the status spread into
// bus and settings, and the version monitor.
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

using model::Origin;

namespace {

constexpr int64_t kSecond = 1000000;
const std::string kPrefix = "castcontroller: HandleOnControlConnected() ";

class CastConnectionTest : public CastSessionTest {
protected:
    // The device's own name on MID 90, as the bus holds it, without alerting anybody.
    void setBusName(const std::string& name) {
        std::vector<model::BusAlert> ignored;
        world().bus().write("", Origin::App, model::Scope::Remote, kMidDeviceName, name, &ignored);
    }

    // The connection's handler posts the delay and the status request itself, behind the
    // marker settle() posted while it ran: a second marker lands behind them, so they have
    // been handled however slowly the looper runs.
    void settleFollowUps() {
        settle();
        settle();
    }

    void connect() {
        (new AMessage(kWhatControlConnected, mController->handlerId()))->post();
        settleFollowUps();
    }

    Names namesGiven() { return since(0, "cast:SetDeviceName"); }

    // A cast status message with the given string fields.
    void status(std::vector<std::pair<const char*, std::string>> fields, int usage = -1) {
        sp<AMessage> msg = new AMessage(kWhatCastStatus);
        for (const auto& [key, value] : fields) msg->setString(key, value.c_str());
        if (usage >= 0) msg->setInt32(kKeyUsageReport, usage);
        postAndSettle(msg);
    }
};

std::string Named(const std::string& name) {
    return "cast:SetDeviceName[\"" + name + "\"]";
}

}  // namespace

TEST_F(CastConnectionTest, ConnectionNamesTheReceiverHandsOverTheDelayAndAsksForStatus) {
    startController();
    // The delay and the status request are handled by their own tests.
    mTap->swallow({kWhatMultizoneDelay, kWhatTriggerCastStatus});
    setBusName("Living Room");
    world().deviceName().setName("Den");
    connect();
    EXPECT_EQ(namesGiven(), Names{Named("Living Room")});
    int32_t id = world().receiver().calls().back().result.asInt();
    EXPECT_TRUE(
        mLog.has(kPrefix + "error ID:" + std::to_string(id) + ", retries:1, cast name changed:YES!",
                 LOG_NOTICE));
    EXPECT_EQ(mTap->take(kWhatMultizoneDelay), Names{R"({multizone-delay="0"})"});
    EXPECT_EQ(mTap->take(kWhatTriggerCastStatus), Names{"{}"});
    EXPECT_TRUE(CastControllerPeer::controlConnected(*mController));
    EXPECT_TRUE(mClock.sleeps().empty());

    // No name on the bus: the device's. No name there either: the fallback.
    setBusName("");
    world().settings().set(kGoogleCastPlayerLatency, "250", Origin::App);
    connect();
    world().deviceName().setName("");
    connect();
    EXPECT_EQ(namesGiven(), (Names{Named("Living Room"), Named("Den"), Named("OrvixSync_")}));
    EXPECT_EQ(mTap->take(kWhatMultizoneDelay), Names(2, R"({multizone-delay="250"})"));

    // A delay already accepted is not sent again; a known version is not asked for again.
    CastControllerPeer::multizoneRequestId(*mController) = 17;
    CastControllerPeer::setCastLiteVersion(*mController, "1.56");
    mTap->take(kWhatTriggerCastStatus);
    connect();
    EXPECT_EQ(mTap->take(kWhatMultizoneDelay), Names{});
    EXPECT_EQ(mTap->take(kWhatTriggerCastStatus), Names{});
    EXPECT_TRUE(mLog.has(kPrefix + "Multizone delay has already set! mMultizoneRequestId : 17",
                         LOG_NOTICE));
}

TEST_F(CastConnectionTest, RefusedNameIsTriedSixTimesASecondApart) {
    startController();
    mTap->swallow({kWhatMultizoneDelay, kWhatTriggerCastStatus});
    setBusName("Kitchen");
    world().receiver().refuse("SetDeviceName");

    // Accepted at the third attempt: two sleeps, then the loop stops.
    (new AMessage(kWhatControlConnected, mController->handlerId()))->post();
    for (size_t calls = 1; calls <= 2; ++calls) {
        ASSERT_TRUE(WaitFor([&] { return mClock.sleeps().size() == calls; }));
        EXPECT_EQ(namesGiven().size(), calls);
        if (calls == 2) world().receiver().refuse("none");
        mClock.advance(kSecond);
    }
    settleFollowUps();
    EXPECT_EQ(namesGiven(), Names(3, Named("Kitchen")));
    EXPECT_EQ(mClock.sleeps(), std::vector<int64_t>(2, kSecond));
    EXPECT_TRUE(mLog.has("retries:3, cast name changed:YES!", LOG_NOTICE));

    // Refused every time: six attempts, a sleep after each, the sixth included.
    world().receiver().refuse("SetDeviceName");
    mClock.setAutoAdvance(true);
    mTap->take(kWhatTriggerCastStatus);
    connect();
    EXPECT_EQ(namesGiven().size(), 9u);
    EXPECT_EQ(mClock.sleeps(), std::vector<int64_t>(8, kSecond));
    EXPECT_TRUE(mLog.has(kPrefix + "error ID:-1, retries:6, cast name changed:NO", LOG_NOTICE));
    EXPECT_EQ(mTap->take(kWhatTriggerCastStatus), Names{"{}"});

    // A device that fails to give a name leaves it empty: no fallback, nothing to ask for.
    world().receiver().refuse("none");
    setBusName("");
    world().deviceName().setStatus(-1);
    mLog.clear();
    connect();
    EXPECT_EQ(namesGiven().size(), 9u);
    EXPECT_EQ(mLog.count("castcontroller: ChangeCastName() Either cast control object is invalid "
                         "or name is empty.             Can't set cast name ",
                         LOG_ERR),
              6u);
}

TEST_F(CastConnectionTest, StatusSpreadsNameVersionConsentLocaleAndAppName) {
    startController();
    setBusName("Kitchen");
    world().settings().set(kGoogleCastTOS, "true", Origin::App);
    world().settings().set(kGoogleCastUsageReport, "false", Origin::App);
    size_t m = mark();
    status({{kKeyCastName, "Kitchen"}});
    EXPECT_EQ(since(m), Names{});
    status({{kKeyCastName, "Den"}});
    EXPECT_EQ(since(m), (Names{"bus:90=Den", "bus:90local=Den", "setting:DeviceFriendlyName=Den"}));
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnCastStatusResponse() Castname changed! Notify "
                 "all. Cast name: Den, Vemo name: Kitchen",
                 LOG_NOTICE));

    // A new version goes to the bus once; the firmware setting is written every time.
    for (const char* build : {"1.56", "1.56", "1.57"}) status({{kKeyBuildNumber, build}});
    EXPECT_EQ(settingWrites(kGoogleCastFirmwareVersion), (Names{"1.56", "1.56", "1.57"}));
    EXPECT_EQ(busWrites(kMidCastVersion), (Names{"1.56", "1.57"}));

    status({}, 0);
    status({}, 5);
    status({{kKeyLocale, "de-DE"}, {kKeyCastAppName, "Radio"}});
    EXPECT_EQ(settingWrites(kGoogleCastUsageReport), (Names{"false", "true"}));
    EXPECT_EQ(settingWrites(kGoogleCastFactoryLocale), Names{"de-DE"});
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).appName, "Radio");

    // An empty app name leaves the known one; a timezone already set is not handed on.
    CastControllerPeer::setTimezone(*mController, "Europe/Berlin");
    status({{kKeyCastAppName, ""}, {kKeyTimezone, "Europe/Berlin"}});
    status({});
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).appName, "Radio");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnCastStatusResponse() cast Timezone: "
                 "Europe/Berlin, Already set timezone: Europe/Berlin",
                 LOG_INFO));
    EXPECT_FALSE(mLog.has("HandleCastTimezoneData()"));
    EXPECT_EQ(settingWrites(kDeviceFriendlyName), Names{"Den"});
}

TEST_F(CastConnectionTest, VersionMonitorAsksEveryTenSecondsUntilTheVersionIsKnown) {
    startController();
    auto statusRequests = [&] { return since(0, "cast:RequestCastStatus").size(); };
    auto monitorRequests = [&] { return mLog.count("MonitorCastLiteVersion() request id:"); };
    auto monitorEnded = [&] {
        return WaitFor([&] { return CastControllerPeer::activeMonitors(*mController) == 0; });
    };

    postAndSettle(new AMessage(kWhatTriggerCastStatus));
    EXPECT_EQ(statusRequests(), 1u);
    EXPECT_TRUE(
        mLog.has("castcontroller: TriggerCastStatus() error ID:1, Triggered cast status ?:YES!",
                 LOG_NOTICE));
    ASSERT_TRUE(mLog.waitFor("castcontroller: MonitorCastLiteVersion() started!", LOG_NOTICE));
    mClock.advance(10 * kSecond);
    ASSERT_TRUE(WaitFor([&] { return monitorRequests() == 1; }));
    EXPECT_TRUE(mLog.has("castcontroller: MonitorCastLiteVersion() request id:2", LOG_INFO));

    // A status brings the version: the next round ends the monitor without asking.
    status({{kKeyBuildNumber, "1.56"}});
    mClock.advance(10 * kSecond);
    EXPECT_TRUE(monitorEnded());
    EXPECT_EQ(statusRequests(), 2u);

    // Never a version: ten requests, then it gives up. Refused requests count the same.
    CastControllerPeer::setCastLiteVersion(*mController, "");
    world().receiver().refuse("RequestCastStatus");
    mLog.clear();
    postAndSettle(new AMessage(kWhatTriggerCastStatus));
    EXPECT_TRUE(mLog.has("error ID:-1, Triggered cast status ?:NO", LOG_NOTICE));
    ASSERT_TRUE(mLog.waitFor("MonitorCastLiteVersion() started!"));
    for (size_t round = 1; round <= 11; ++round) {
        mClock.advance(10 * kSecond);
        ASSERT_TRUE(WaitFor([&] { return monitorRequests() == std::min<size_t>(round, 10); }));
    }
    EXPECT_TRUE(monitorEnded());
    EXPECT_EQ(mLog.count("MonitorCastLiteVersion() request id:-1", LOG_INFO), 10u);
}

}  // namespace orvix::test
