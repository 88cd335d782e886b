// What the audio-focus and device-control tests share: one ordered view of everything the
// daemon did to the receiver, the source-switch service, the bus and the UI, a fixture that
// knows when the detached workers are done, and a recording mixer command on PATH.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/Messages.h"
#include "sim/model/JsonText.h"
#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

// One record of the daemon's outward calls, as "area:Op[args]" in the World's sequence.
struct Effect {
    uint64_t seq;
    std::string text;
};

// Everything after seq `since`, in order: receiver calls ("cast:GrantResources[]"),
// source-switch calls ("source:PlayMySource[24]"), the daemon's bus writes
// ("bus:70=SPEAKER_ACTIVE,24") and UI updates ("ui:clear", fields left out when empty).
inline std::vector<Effect> EffectsSince(model::World& world, uint64_t since) {
    std::vector<Effect> out;
    for (const auto& c : world.receiver().calls()) {
        if (c.stamp.seq > since && c.op != model::CastOp::Create) {
            out.push_back({c.stamp.seq, std::string("cast:") + model::castOpName(c.op) +
                                            model::compactJson(c.args)});
        }
    }
    for (const auto& c : world.source().calls()) {
        if (c.stamp.seq > since) {
            out.push_back({c.stamp.seq, std::string("source:") + model::sourceOpName(c.op) +
                                            model::compactJson(c.args)});
        }
    }
    for (const auto& w : world.bus().writes()) {
        if (w.stamp.seq > since && w.from == model::Origin::Daemon) {
            out.push_back({w.stamp.seq, "bus:" + std::to_string(w.mid) + "=" + w.payload});
        }
    }
    for (const auto& u : world.ui().updates()) {
        if (u.stamp.seq > since) {
            std::string text = u.kind == model::UiUpdate::Kind::Clear ? "ui:clear" : "ui:metadata";
            if (!u.fields.empty()) text += "+" + std::to_string(u.fields.size()) + " fields";
            out.push_back({u.stamp.seq, text});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Effect& a, const Effect& b) { return a.seq < b.seq; });
    return out;
}

inline std::vector<std::string> Texts(const std::vector<Effect>& effects) {
    std::vector<std::string> texts;
    for (const Effect& e : effects) texts.push_back(e.text);
    return texts;
}

// The newest sequence number the records carry: a mark to look at what came after.
inline uint64_t LastSeq(model::World& world) {
    uint64_t last = 0;
    for (const auto& c : world.receiver().calls()) last = std::max(last, c.stamp.seq);
    for (const auto& e : world.receiver().events()) last = std::max(last, e.stamp.seq);
    for (const auto& c : world.source().calls()) last = std::max(last, c.stamp.seq);
    for (const auto& w : world.bus().writes()) last = std::max(last, w.stamp.seq);
    for (const auto& u : world.ui().updates()) last = std::max(last, u.stamp.seq);
    return last;
}

// A controller whose detached release and switch workers can be waited for: every worker
// holds a reference to the controller or the listener until it ends, so both counts back at
// their idle values means no worker is left.
class DeviceTest : public DaemonTest {
protected:
    void TearDown() override {
        waitWorkersDone();
        mListener.clear();
        DaemonTest::TearDown();
    }

    // Looper, bus and Init (with or without a cast control), then one granted request so
    // that the service knows the listener and can notify it.
    void startDevice(bool withControl = true) {
        if (!withControl) world().receiver().refuse("Create");
        startLooperAndBus();
        EXPECT_EQ(mController->Init(), withControl);
        ASSERT_TRUE(mLog.waitFor("castobserver: HandleCurrentTimeData() Entered ++ "));
        mListener = mController->sourceSwitchListener();
        ASSERT_NE(mListener, nullptr);
        if (withControl) {
            fakes::Fakes().castRequestResources();
        } else {
            android::SourceSwitchClient::UpdatePlayerState(
                mListener, android::ISourceSwitch::PLAYSTATE_PLAYING);
        }
        fakes::Fakes().drain();
        settle();
        mIdleController = mController->getStrongCount();
        mIdleListener = mListener->getStrongCount();
        mLog.clear();
    }

    void waitWorkersDone() {
        if (mListener == nullptr) return;
        EXPECT_TRUE(fakes::WaitFor([&] {
            return mController->getStrongCount() == mIdleController &&
                   mListener->getStrongCount() == mIdleListener;
        })) << "a release or switch worker did not end";
    }

    // Delivers what the fakes queued, lets the looper handle it and waits for the workers.
    void settleAll() {
        fakes::Fakes().drain();
        settle();
        waitWorkersDone();
    }

    uint64_t mark() { return LastSeq(world()); }
    std::vector<std::string> since(uint64_t seq) { return Texts(EffectsSince(world(), seq)); }

    android::sp<CastSourceSwitchListener> mListener;
    int32_t mIdleController = 0;
    int32_t mIdleListener = 0;
};

// An `amixer` of our own at the front of PATH that appends its arguments to a file. Unless
// hold() is called it returns at once; while held it waits (up to five seconds) for
// release(), so a test can look at the world while the daemon is inside system().
class RecordingMixer {
public:
    RecordingMixer() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/orvix-mixer-XXXXXX";
        const char* made = mkdtemp(&pattern[0]);
        if (made == nullptr) return;
        mDir = made;
        std::ofstream script(mDir + "/amixer");
        script << "#!/bin/sh\n"
               << "echo \"$*\" >> '" << mDir << "/calls'\n"
               << "i=0\n"
               << "while [ -e '" << mDir << "/hold' ] && [ $i -lt 500 ]; do sleep 0.01; "
               << "i=$((i+1)); done\n";
        script.close();
        chmod((mDir + "/amixer").c_str(), 0755);
        const char* path = getenv("PATH");
        mOldPath = path != nullptr ? path : "";
        setenv("PATH", (mDir + ":" + mOldPath).c_str(), 1);
    }
    ~RecordingMixer() {
        setenv("PATH", mOldPath.c_str(), 1);
        unlink((mDir + "/hold").c_str());
        unlink((mDir + "/calls").c_str());
        unlink((mDir + "/amixer").c_str());
        rmdir(mDir.c_str());
    }
    bool ready() const { return !mDir.empty(); }
    void hold() { std::ofstream(mDir + "/hold") << "1"; }
    void release() { unlink((mDir + "/hold").c_str()); }
    // One line per run, the arguments joined by blanks.
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream in(mDir + "/calls");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::string mDir;
    std::string mOldPath;
};

}  // namespace orvix::test
