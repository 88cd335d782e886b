// What the cast-session tests share: a controller whose looper handler also keeps a copy of
// every message it is given (so a test sees exactly what the observer posted), a test clock,
// and short ways to read what the fakes recorded.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"

// Reaches the observer's private parts for the tests (a friend of CastControlObserver).
// Defined here only, so that every test file sees the same one.
struct CastControlObserverPeer {
    // The remembered cast-status values live for the process; each test starts afresh.
    static void forgetRememberedStatus() { CastControlObserver::ForgetRememberedStatus(); }
};

namespace orvix::test {

// The controller's handler, keeping a copy of each message before the controller handles it.
// Messages whose code is in swallow are kept but not handled.
class TapHandler : public android::AHandlerReflector<CastController> {
public:
    explicit TapHandler(CastController* controller) : AHandlerReflector(controller) {}

    void swallow(std::vector<uint32_t> codes) {
        std::lock_guard<std::mutex> lock(mLock);
        mSwallow = std::move(codes);
    }
    // The messages with this code seen so far, in order.
    std::vector<android::sp<android::AMessage>> taken(uint32_t what) const {
        std::lock_guard<std::mutex> lock(mLock);
        std::vector<android::sp<android::AMessage>> out;
        for (const auto& msg : mTaken) {
            if (msg->what() == what) out.push_back(msg);
        }
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mLock);
        mTaken.clear();
    }

protected:
    void onMessageReceived(const android::sp<android::AMessage>& msg) override {
        bool handle = true;
        {
            std::lock_guard<std::mutex> lock(mLock);
            mTaken.push_back(msg->dup());
            for (uint32_t code : mSwallow) handle = handle && code != msg->what();
        }
        if (handle) AHandlerReflector::onMessageReceived(msg);
    }

private:
    mutable std::mutex mLock;
    std::vector<android::sp<android::AMessage>> mTaken;
    std::vector<uint32_t> mSwallow;
};

// A controller set up like startController() but with the tap as its handler, on a test clock.
class CastSessionTest : public DaemonTest {
protected:
    void SetUp() override {
        DaemonTest::SetUp();
        CastControlObserverPeer::forgetRememberedStatus();
        android::SetSystemClock(&mClock);
    }

    void TearDown() override {
        destroyController();
        android::SetSystemClock(nullptr);
    }

    // Looper with the tap, bus registration and, when init, the cast objects.
    void startTapped(bool init = true) {
        mController = new CastController();
        mController->StartALooper();
        mTap = new TapHandler(mController.get());
        CastControllerPeer::replaceHandler(*mController, mTap);
        mController->RegisterWithVemo();
        if (init) {
            ASSERT_TRUE(mController->Init());
            ASSERT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
        }
    }

    // Delivers what the fakes queued and waits until the looper handled it.
    void deliver() {
        fakes::Fakes().drain();
        settle();
    }

    // The one message of this code posted since the last clear (fails when not exactly one).
    android::sp<android::AMessage> onlyTaken(uint32_t what) {
        auto all = mTap->taken(what);
        EXPECT_EQ(all.size(), 1u) << "messages with code " << what;
        return all.empty() ? new android::AMessage(9999) : all.back();
    }

    // Receiver operations by name, in call order.
    std::vector<std::string> receiverOps(const std::string& only = "") {
        std::vector<std::string> ops;
        for (const auto& call : world().receiver().calls()) {
            std::string name = model::castOpName(call.op);
            if (only.empty() || name == only) ops.push_back(name);
        }
        return ops;
    }

    // Source-switch calls as "Op(args)", in call order.
    std::vector<std::string> sourceCalls() {
        std::vector<std::string> calls;
        for (const auto& call : world().source().calls()) {
            std::string text = model::sourceOpName(call.op);
            text += "(";
            for (Json::ArrayIndex i = 0; i < call.args.size(); ++i) {
                text += (i ? "," : "") + call.args[i].asString();
            }
            calls.push_back(text + ")");
        }
        return calls;
    }

    // The daemon's writes on mid, payloads in order, as "remote:..." / "local:...".
    std::vector<std::string> daemonWrites(int32_t mid, bool withScope = false) {
        std::vector<std::string> out;
        for (const auto& write : world().bus().writes()) {
            if (write.mid != mid || write.from != model::Origin::Daemon) continue;
            out.push_back(withScope
                              ? std::string(model::scopeName(write.scope)) + ":" + write.payload
                              : write.payload);
        }
        return out;
    }

    // The values the daemon gave key, in order.
    std::vector<std::string> settingWrites(const std::string& key) {
        std::vector<std::string> out;
        for (const auto& change : world().settings().changes()) {
            if (change.key == key && change.from == model::Origin::Daemon)
                out.push_back(change.value);
        }
        return out;
    }

    fakes::ManualClock mClock;
    android::sp<TapHandler> mTap;
};

// Names of the entries of msg, in the order they were set.
inline std::vector<std::string> EntryNames(const android::sp<android::AMessage>& msg) {
    std::vector<std::string> names;
    for (size_t i = 0; i < msg->countEntries(); ++i) {
        android::AMessage::Type type;
        names.push_back(msg->getEntryNameAt(i, &type));
    }
    return names;
}

inline std::string StringOf(const android::sp<android::AMessage>& msg, const char* key) {
    android::AString value;
    EXPECT_TRUE(msg->findString(key, &value)) << key;
    return value.str();
}

inline int32_t Int32Of(const android::sp<android::AMessage>& msg, const char* key) {
    int32_t value = -12345;
    EXPECT_TRUE(msg->findInt32(key, &value)) << key;
    return value;
}

}  // namespace orvix::test
