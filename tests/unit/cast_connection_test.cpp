// The controller's side of the connection and of the receiver's status: the device name
// given to the receiver, the delay and status requests on connection, the status spread into
// bus and settings, the version monitor and the name change.
#include "tests/unit/CastTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::Fakes;
using orvix::fakes::WaitFor;
using orvix::model::Origin;
using orvix::model::Scope;
using orvix::test::CastSessionTest;
using orvix::test::StringOf;

namespace {

using Names = std::vector<std::string>;
constexpr int64_t kSecond = 1000000;

const char kNameRefused[] =
    "castcontroller: ChangeCastName() Either cast control object is invalid or name is empty."
    "             Can't set cast name ";

}  // namespace

class CastConnectionTest : public CastSessionTest {
protected:
    // The device's own name on MID 90, as the bus holds it, without alerting anybody.
    void setBusName(const std::string& name) {
        std::vector<orvix::model::BusAlert> ignored;
        world().bus().write("", Origin::App, Scope::Remote, kMidDeviceName, name, &ignored);
    }

    void connect() { postAndSettle(new AMessage(kWhatControlConnected)); }

    std::vector<std::string> namesGiven() {
        std::vector<std::string> names;
        for (const auto& call : world().receiver().calls()) {
            if (call.op == orvix::model::CastOp::SetDeviceName) {
                names.push_back(call.args[0].asString());
            }
        }
        return names;
    }

    sp<AMessage> status() { return new AMessage(kWhatCastStatus); }
};

TEST_F(CastConnectionTest, ConnectionNamesTheReceiverHandsOverTheDelayAndAsksForStatus) {
    startTapped();
    // The delay and the status request are handled by their own tests.
    mTap->swallow({kWhatMultizoneDelay, kWhatTriggerCastStatus});

    setBusName("Living Room");
    world().deviceName().setName("Den");
    connect();
    EXPECT_EQ(namesGiven(), Names{"Living Room"});
    int32_t id = world().receiver().calls().back().result.asInt();
    EXPECT_TRUE(mLog.has("castcontroller: HandleOnControlConnected() Entered ++", LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: HandleOnControlConnected() error ID:" +
                             std::to_string(id) + ", retries:1, cast name changed:YES!",
                         LOG_NOTICE));
    EXPECT_EQ(StringOf(onlyTaken(kWhatMultizoneDelay), kKeyMultizoneDelay), "0");
    EXPECT_EQ(onlyTaken(kWhatTriggerCastStatus)->countEntries(), 0u);
    EXPECT_TRUE(
        mLog.has("castcontroller: CastLite version: (empty) request cast status!", LOG_INFO));
    EXPECT_TRUE(CastControllerPeer::controlConnected(*mController));
    EXPECT_TRUE(mClock.sleeps().empty());

    // No name on the bus: the device's. No name there either: the fallback.
    mTap->clear();
    setBusName("");
    world().settings().set(kGoogleCastPlayerLatency, "250", Origin::App);
    connect();
    world().deviceName().setName("");
    connect();
    EXPECT_EQ(namesGiven(), (Names{"Living Room", "Den", "OrvixSync_"}));
    auto delays = mTap->taken(kWhatMultizoneDelay);
    ASSERT_EQ(delays.size(), 2u);
    for (const auto& delay : delays) EXPECT_EQ(StringOf(delay, kKeyMultizoneDelay), "250");

    // A delay already accepted is not sent again; a known version is not asked for again.
    mTap->clear();
    CastControllerPeer::setMultizoneRequestId(*mController, 17);
    CastControllerPeer::setCastLiteVersion(*mController, "1.56");
    mLog.clear();
    connect();
    EXPECT_TRUE(mTap->taken(kWhatMultizoneDelay).empty());
    EXPECT_TRUE(mTap->taken(kWhatTriggerCastStatus).empty());
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnControlConnected() Multizone delay has already "
                 "set! mMultizoneRequestId : 17",
                 LOG_NOTICE));
    EXPECT_FALSE(mLog.has("request cast status!"));
}

TEST_F(CastConnectionTest, RefusedNameIsTriedSixTimesASecondApart) {
    startTapped();
    mTap->swallow({kWhatMultizoneDelay, kWhatTriggerCastStatus});
    setBusName("Kitchen");
    world().receiver().refuse("SetDeviceName");

    // Accepted at the third attempt: two sleeps, then the loop stops.
    sp<AMessage> msg = new AMessage(kWhatControlConnected, mController->handlerId());
    msg->post();
    for (size_t calls = 1; calls <= 2; ++calls) {
        ASSERT_TRUE(WaitFor([&] { return mClock.sleeps().size() == calls; }));
        EXPECT_EQ(namesGiven().size(), calls);
        if (calls == 2) world().receiver().refuse("none");
        mClock.advance(kSecond);
    }
    settle();
    EXPECT_EQ(namesGiven(), (Names{"Kitchen", "Kitchen", "Kitchen"}));
    EXPECT_EQ(mClock.sleeps(), (std::vector<int64_t>{kSecond, kSecond}));
    EXPECT_TRUE(mLog.has("retries:3, cast name changed:YES!", LOG_NOTICE));

    // Refused every time: six attempts, a sleep after each, the sixth included.
    world().receiver().refuse("SetDeviceName");
    mClock.setAutoAdvance(true);
    mTap->clear();
    connect();
    EXPECT_EQ(namesGiven().size(), 9u);
    EXPECT_EQ(mClock.sleeps(), std::vector<int64_t>(8, kSecond));
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnControlConnected() error ID:-1, retries:6, cast "
                 "name changed:NO",
                 LOG_NOTICE));
    EXPECT_EQ(onlyTaken(kWhatTriggerCastStatus)->what(), kWhatTriggerCastStatus);

    // A device that fails to give a name leaves it empty: no fallback, nothing to ask for.
    world().receiver().refuse("none");
    setBusName("");
    world().deviceName().setStatus(-1);
    mLog.clear();
    connect();
    EXPECT_EQ(namesGiven().size(), 9u);
    EXPECT_EQ(mLog.count(kNameRefused, LOG_ERR), 6u);
    EXPECT_TRUE(mLog.has("error ID:-1, retries:6, cast name changed:NO"));
}

TEST_F(CastConnectionTest, StatusSpreadsNameVersionConsentLocaleAndAppName) {
    startTapped();
    setBusName("Kitchen");
    world().settings().set(kGoogleCastTOS, "true", Origin::App);
    world().settings().set(kGoogleCastUsageReport, "false", Origin::App);

    sp<AMessage> msg = status();
    msg->setString(kKeyCastName, "Kitchen");
    postAndSettle(msg);
    EXPECT_TRUE(mLog.has("castcontroller: HandleOnCastStatusResponse() called ++", LOG_INFO));
    EXPECT_TRUE(mLog.has("castcontroller: parseMessageAndSet() cast-name: Kitchen", LOG_INFO));
    EXPECT_TRUE(daemonWrites(kMidDeviceName).empty());

    msg = status();
    msg->setString(kKeyCastName, "Den");
    postAndSettle(msg);
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnCastStatusResponse() Castname changed! Notify "
                 "all. Cast name: Den, Vemo name: Kitchen",
                 LOG_NOTICE));
    EXPECT_EQ(daemonWrites(kMidDeviceName, true), (Names{"remote:Den", "local:Den"}));
    EXPECT_EQ(settingWrites(kDeviceFriendlyName), Names{"Den"});
    EXPECT_GT(world().settings().changes().back().stamp.seq,
              world().bus().writes().back().stamp.seq);

    // A new version goes to the bus once; the firmware setting is written every time.
    for (const char* build : {"1.56", "1.56", "1.57"}) {
        msg = status();
        msg->setString(kKeyBuildNumber, build);
        postAndSettle(msg);
    }
    EXPECT_EQ(settingWrites(kGoogleCastFirmwareVersion), (Names{"1.56", "1.56", "1.57"}));
    EXPECT_EQ(daemonWrites(kMidCastVersion), (Names{"1.56", "1.57"}));
    EXPECT_EQ(CastControllerPeer::castLiteVersion(*mController), "1.57");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnCastStatusResponse() Cast Lite version:1.56 ENV "
                 "Cast ToS state:true Crash report state:false",
                 LOG_INFO));

    for (int32_t usage : {0, 5}) {
        msg = status();
        msg->setInt32(kKeyUsageReport, usage);
        postAndSettle(msg);
    }
    msg = status();
    msg->setString(kKeyLocale, "de-DE");
    msg->setString(kKeyCastAppName, "Radio");
    postAndSettle(msg);
    EXPECT_EQ(settingWrites(kGoogleCastUsageReport), (Names{"false", "true"}));
    EXPECT_TRUE(mLog.has("castcontroller: HandleOnCastStatusResponse() Usage report: 0", LOG_INFO));
    EXPECT_EQ(settingWrites(kGoogleCastFactoryLocale), Names{"de-DE"});
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).appName, "Radio");

    // An empty app name leaves the known one; a timezone already set is not handed on.
    CastControllerPeer::setTimezone(*mController, "Europe/Berlin");
    msg = status();
    msg->setString(kKeyCastAppName, "");
    msg->setString(kKeyTimezone, "Europe/Berlin");
    postAndSettle(msg);
    postAndSettle(status());
    EXPECT_EQ(CastControllerPeer::nowPlaying(*mController).appName, "Radio");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleOnCastStatusResponse() cast Timezone: "
                 "Europe/Berlin, Already set timezone: Europe/Berlin",
                 LOG_INFO));
    EXPECT_TRUE(mLog.has("cast Timezone: , Already set timezone: Europe/Berlin"));
    EXPECT_FALSE(mLog.has("HandleCastTimezoneData()"));
    EXPECT_EQ(settingWrites(kDeviceFriendlyName), Names{"Den"});

    // Without a bus client nothing of a status is applied.
    sp<CastController> bare = new CastController();
    size_t changes = world().settings().changes().size();
    mLog.clear();
    msg = status();
    msg->setString(kKeyCastName, "Attic");
    msg->setString(kKeyBuildNumber, "9.9");
    msg->setInt32(kKeyUsageReport, 1);
    bare->HandleOnCastStatusResponse(msg);
    EXPECT_EQ(world().settings().changes().size(), changes);
    ASSERT_EQ(mLog.lines().size(), 1u);
    EXPECT_NE(mLog.lines()[0].text.find("HandleOnCastStatusResponse() called ++"),
              std::string::npos);
}

TEST_F(CastConnectionTest, VersionMonitorAsksEveryTenSecondsUntilTheVersionIsKnown) {
    startTapped();
    auto statusRequests = [&] { return receiverOps("RequestCastStatus").size(); };
    auto monitorRequests = [&] { return mLog.count("MonitorCastLiteVersion() request id:"); };

    postAndSettle(new AMessage(kWhatTriggerCastStatus));
    EXPECT_EQ(statusRequests(), 1u);
    EXPECT_TRUE(mLog.has("castcontroller: TriggerCastStatus() called ++ ", LOG_INFO));
    EXPECT_TRUE(
        mLog.has("castcontroller: TriggerCastStatus() error ID:1, Triggered cast status "
                 "?:YES!",
                 LOG_NOTICE));
    ASSERT_TRUE(mLog.waitFor("castcontroller: MonitorCastLiteVersion() started!", LOG_NOTICE));
    mClock.advance(10 * kSecond);
    ASSERT_TRUE(WaitFor([&] { return monitorRequests() == 1; }));
    EXPECT_TRUE(mLog.has("castcontroller: MonitorCastLiteVersion() request id:2", LOG_INFO));

    // A status brings the version: the next round ends the monitor without asking.
    sp<AMessage> msg = status();
    msg->setString(kKeyBuildNumber, "1.56");
    postAndSettle(msg);
    mClock.advance(10 * kSecond);
    EXPECT_TRUE(WaitFor([&] { return CastControllerPeer::activeMonitors(*mController) == 0; }));
    EXPECT_EQ(statusRequests(), 2u);

    // Never a version: ten requests, then it gives up. Refused requests count the same.
    CastControllerPeer::setCastLiteVersion(*mController, "");
    world().receiver().refuse("RequestCastStatus");
    mLog.clear();
    postAndSettle(new AMessage(kWhatTriggerCastStatus));
    EXPECT_TRUE(mLog.has("error ID:-1, Triggered cast status ?:NO", LOG_NOTICE));
    ASSERT_TRUE(mLog.waitFor("MonitorCastLiteVersion() started!"));
    for (size_t round = 1; round <= 10; ++round) {
        mClock.advance(10 * kSecond);
        ASSERT_TRUE(WaitFor([&] { return monitorRequests() == round; })) << round;
    }
    mClock.advance(10 * kSecond);
    EXPECT_TRUE(WaitFor([&] { return CastControllerPeer::activeMonitors(*mController) == 0; }));
    EXPECT_EQ(monitorRequests(), 10u);
    EXPECT_EQ(mLog.count("MonitorCastLiteVersion() request id:-1", LOG_INFO), 10u);

    // Without a cast control nothing is asked and no monitor starts.
    sp<CastController> bare = new CastController();
    mLog.clear();
    bare->TriggerCastStatus();
    EXPECT_EQ(mLog.lines().size(), 1u);
    EXPECT_EQ(CastControllerPeer::activeMonitors(*bare), 0);
}

TEST_F(CastConnectionTest, NameChangeNeedsAControlAndAName) {
    sp<CastController> bare = new CastController();
    EXPECT_EQ(bare->ChangeCastName("Den"), -1);
    EXPECT_TRUE(mLog.has(std::string(kNameRefused) + "Den", LOG_ERR));

    startTapped();
    EXPECT_EQ(mController->ChangeCastName(""), -1);
    EXPECT_EQ(mLog.count(kNameRefused, LOG_ERR), 2u);
    EXPECT_TRUE(namesGiven().empty());
    int32_t id = mController->ChangeCastName("Den");
    EXPECT_EQ(namesGiven(), Names{"Den"});
    EXPECT_EQ(id, world().receiver().calls().back().result.asInt());
    EXPECT_NE(id, -1);
}
