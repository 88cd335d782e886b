// What the daemon's tests share: the log lines, the controller's private fields, one ordered
// view of what the daemon did to the fakes, and a fixture that runs a controller against them.
#pragma once

#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cast/CastControlObserver.h"
#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "device/CastSourceSwitchListener.h"
#include "sim/model/JsonText.h"
#include "tests/fakes/FakeWorld.h"
#include "tests/fakes/ManualClock.h"
#include "tests/fakes/Wait.h"
#include "tests/unit/CastControllerPeer.h"

namespace orvix::test {

using android::AMessage;
using android::sp;
using fakes::Fakes;
using fakes::WaitFor;
using Names = std::vector<std::string>;

struct LogLine {
    int priority;
    std::string text;
};

// Every line the daemon logs while it is installed.
class LogCapture {
public:
    LogCapture() {
        orvix::SetLogSink([this](int priority, const std::string& text) {
            std::lock_guard<std::mutex> lock(mLock);
            mLines.push_back({priority, text});
        });
    }
    ~LogCapture() { orvix::SetLogSink(nullptr); }

    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mLines;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const LogLine& line : lines()) out.push_back(line.text);
        return out;
    }
    // Lines whose text contains part (at the given priority, or any with -1).
    size_t count(const std::string& part, int priority = -1) const {
        size_t n = 0;
        for (const LogLine& line : lines()) {
            n += line.text.find(part) != std::string::npos &&
                 (priority < 0 || line.priority == priority);
        }
        return n;
    }
    bool has(const std::string& part, int priority = -1) const { return count(part, priority); }
    bool waitFor(const std::string& part, int priority = -1) const {
        return fakes::WaitFor([&] { return has(part, priority); });
    }
    // Index of the first line containing part, or -1.
    int indexOf(const std::string& part) const {
        std::vector<std::string> all = texts();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].find(part) != std::string::npos) return static_cast<int>(i);
        }
        return -1;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mLock);
        mLines.clear();
    }

private:
    mutable std::mutex mLock;
    std::vector<LogLine> mLines;
};

}  // namespace orvix::test

// The remembered cast-status values live for the process (a friend of CastControlObserver).
struct CastControlObserverPeer {
    static void forgetRememberedStatus() { CastControlObserver::ForgetRememberedStatus(); }
};

namespace orvix::test {

// The controller's handler, keeping the fields of each message before the controller handles
// it ({cast-name="Den", usage-report=1}). Messages whose code is swallowed are not handled.
// A code of no message of the daemon, the marker DaemonTest::settle() waits for.
constexpr uint32_t kSettledMarker = 9999;

class TapHandler : public android::AHandlerReflector<CastController> {
public:
    explicit TapHandler(CastController* controller) : AHandlerReflector(controller) {}

    void swallow(std::set<uint32_t> codes) {
        std::lock_guard<std::mutex> lock(mLock);
        mSwallow = std::move(codes);
    }
    // The messages with this code seen since the last call, in order.
    std::vector<std::string> take(uint32_t what) {
        std::lock_guard<std::mutex> lock(mLock);
        return std::exchange(mTaken[what], {});
    }

protected:
    void onMessageReceived(const android::sp<android::AMessage>& msg) override {
        std::string text = msg->debugString();
        bool handle;
        {
            std::lock_guard<std::mutex> lock(mLock);
            mTaken[msg->what()].push_back(text.substr(text.find('{')));
            // The marker is kept from the controller: forwarding it would hold a strong
            // reference to it just when the test, seeing the marker, counts them.
            handle = mSwallow.count(msg->what()) == 0 && msg->what() != kSettledMarker;
        }
        if (handle) AHandlerReflector::onMessageReceived(msg);
    }

private:
    std::mutex mLock;
    std::map<uint32_t, std::vector<std::string>> mTaken;
    std::set<uint32_t> mSwallow;
};

// Everything the daemon did to the fakes, in the World's order: receiver calls
// ("cast:GrantResources[]"), source-switch calls ("source:PlayMySource[24]"), bus writes
// ("bus:70=SPEAKER_ACTIVE,24", "bus:90local=Den"), settings ("setting:TimeZone=UTC") and UI
// updates ("ui:clear", "ui:metadata+12 fields").
inline std::vector<std::string> Effects(model::World& world) {
    std::vector<std::pair<uint64_t, std::string>> all;
    for (const auto& c : world.receiver().calls()) {
        all.push_back({c.stamp.seq, std::string("cast:") + model::castOpName(c.op) +
                                        model::compactJson(c.args)});
    }
    for (const auto& c : world.source().calls()) {
        all.push_back({c.stamp.seq, std::string("source:") + model::sourceOpName(c.op) +
                                        model::compactJson(c.args)});
    }
    for (const auto& w : world.bus().writes()) {
        if (w.from != model::Origin::Daemon) continue;
        std::string scope = w.scope == model::Scope::Remote ? "" : model::scopeName(w.scope);
        all.push_back({w.stamp.seq, "bus:" + std::to_string(w.mid) + scope + "=" + w.payload});
    }
    for (const auto& c : world.settings().changes()) {
        if (c.from != model::Origin::Daemon) continue;
        all.push_back({c.stamp.seq, "setting:" + c.key + "=" + c.value});
    }
    for (const auto& u : world.ui().updates()) {
        std::string text = u.kind == model::UiUpdate::Kind::Clear ? "ui:clear" : "ui:metadata";
        if (!u.fields.empty()) text += "+" + std::to_string(u.fields.size()) + " fields";
        all.push_back({u.stamp.seq, text});
    }
    std::sort(all.begin(), all.end());
    std::vector<std::string> out;
    for (const auto& entry : all) out.push_back(entry.second);
    return out;
}

// A controller set up on the test thread the way its thread would (looper with a tap, bus,
// Init), over freshly reset fakes, with its log lines captured. Its detached release and
// switch workers each hold the controller or the listener until they end, so both strong
// counts back at their idle values means none is left.
class DaemonTest : public ::testing::Test {
protected:
    static constexpr uint32_t kSettled = kSettledMarker;

    void SetUp() override {
        fakes::Fakes().reset();
        gSourceSwitched = false;
        gCastMuted = false;
        CastControlObserverPeer::forgetRememberedStatus();
    }

    void TearDown() override {
        waitWorkersDone();
        mListener.clear();
        destroyController();
        if (mClockInstalled) android::SetSystemClock(nullptr);
    }

    void useTestClock() {
        android::SetSystemClock(&mClock);
        mClockInstalled = true;
    }

    // Looper (with the tap) and bus registration only.
    android::sp<CastController> startLooperAndBus() {
        mController = new CastController();
        mController->StartALooper();
        mTap = new TapHandler(mController.get());
        CastControllerPeer::replaceHandler(*mController, mTap);
        mController->RegisterWithVemo();
        return mController;
    }

    // Looper, bus and Init: the cast control (unless refused), observer and listener exist.
    android::sp<CastController> startController(bool withControl = true) {
        if (!withControl) world().receiver().refuse("Create");
        startLooperAndBus();
        EXPECT_EQ(mController->Init(), withControl);
        // The observer's reporter thread says hello once; let it, so tests see a quiet log.
        EXPECT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
        return mController;
    }

    // startController, then one granted request (or a report without a control) so that the
    // service knows the listener and can notify it; the log starts empty.
    void startDevice(bool withControl = true) {
        startController(withControl);
        android::sp<CastSourceSwitchListener> listener = mController->sourceSwitchListener();
        ASSERT_NE(listener, nullptr);
        if (withControl) {
            fakes::Fakes().castRequestResources();
        } else {
            android::SourceSwitchClient::UpdatePlayerState(
                listener, android::ISourceSwitch::PLAYSTATE_PLAYING);
        }
        deliver();
        mIdleController = mController->getStrongCount();
        mIdleListener = listener->getStrongCount();
        mListener = listener;  // from here on, deliver() also waits for the workers
        mLog.clear();
    }

    void waitWorkersDone() {
        if (mListener == nullptr) return;
        EXPECT_TRUE(fakes::WaitFor([&] {
            return mController->getStrongCount() == mIdleController &&
                   mListener->getStrongCount() == mIdleListener;
        })) << "a release or switch worker did not end: controller "
            << mController->getStrongCount() << " (idle " << mIdleController << "), listener "
            << mListener->getStrongCount() << " (idle " << mIdleListener << ")";
    }

    void destroyController() {
        if (mController == nullptr) return;
        fakes::Fakes().drain();
        CastControllerPeer::dismantle(*mController);
        fakes::Fakes().reset();
        mController.clear();
    }

    // Posts msg to the controller's looper and waits until it and everything before it ran.
    void postAndSettle(const android::sp<android::AMessage>& msg) {
        msg->setTarget(mController->handlerId());
        msg->post();
        settle();
    }

    // Waits until the looper has handled everything posted so far (the tap sees a marker).
    void settle() {
        (new android::AMessage(kSettled, mTap->id()))->post();
        ASSERT_TRUE(fakes::WaitFor([&] { return !mTap->take(kSettled).empty(); }));
    }

    // Delivers what the fakes queued and waits until the looper and the workers handled it.
    void deliver() {
        fakes::Fakes().drain();
        settle();
        waitWorkersDone();
    }

    model::World& world() { return fakes::Fakes().world(); }
    // A mark to look at what the daemon did after it, with since(mark).
    size_t mark() { return Effects(world()).size(); }
    // What the daemon did after mark, the entries starting with prefix only.
    std::vector<std::string> since(size_t mark, const std::string& prefix = "") {
        std::vector<std::string> all = Effects(world());
        std::vector<std::string> out;
        for (size_t i = mark; i < all.size(); ++i) {
            if (all[i].rfind(prefix, 0) == 0) out.push_back(all[i]);
        }
        return out;
    }
    // The payloads the daemon wrote on mid (remote), or the values it gave key, in order.
    std::vector<std::string> busWrites(int32_t mid) {
        return values("bus:" + std::to_string(mid) + "=");
    }
    std::vector<std::string> settingWrites(const std::string& key) {
        return values("setting:" + key + "=");
    }
    std::vector<std::string> values(const std::string& prefix) {
        std::vector<std::string> out = since(0, prefix);
        for (std::string& value : out) value.erase(0, prefix.size());
        return out;
    }

    LogCapture mLog;
    fakes::ManualClock mClock;
    bool mClockInstalled = false;
    android::sp<CastController> mController;
    android::sp<TapHandler> mTap;
    android::sp<CastSourceSwitchListener> mListener;
    int32_t mIdleController = 0;
    int32_t mIdleListener = 0;
};

// The cast-session tests drive the observer's reporter and the version monitor by the clock.
class CastSessionTest : public DaemonTest {
protected:
    void SetUp() override {
        DaemonTest::SetUp();
        useTestClock();
    }
};

// The audio-focus and device-control tests.
class DeviceTest : public DaemonTest {};

}  // namespace orvix::test
