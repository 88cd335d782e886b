#include "tests/support/Daemon.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "sim/model/JsonText.h"

using android::AMessage;
using android::sp;

void CastControllerPeer::replaceHandler(
    CastController& c, const sp<android::AHandlerReflector<CastController>>& handler) {
    c.mLooper->unregisterHandler(c.mHandler->id());
    c.mLooper->registerHandler(handler);
    c.mHandler = handler;
}

void CastControllerPeer::dismantle(CastController& c) {
    // A version monitor sleeps on the fixture's clock, and the last reference to the
    // controller may be dropped later on another thread.
    c.StopMonitors();
    releaseResourceCallback = nullptr;
    playMySourceCallback = nullptr;
    setvemovolume = nullptr;
    onVolumeMuteCallback = nullptr;
    std::shared_ptr<CastControlObserver> observer;
    sp<CastSourceSwitchListener> listener;
    {
        std::lock_guard<std::mutex> lock(c.mObjectsMutex);
        observer = std::move(c.mObserver);
        listener = std::move(c.mSourceSwitchListener);
        c.mCastControl.reset();
    }
    observer.reset();  // before the listener
}

namespace orvix::test {

namespace {
// A code no message of the daemon has: the marker settle() waits for.
constexpr uint32_t kSettledMarker = 9999;
}  // namespace

LogCapture::LogCapture() {
    orvix::SetLogSink([this](int priority, const std::string& text) {
        std::lock_guard<std::mutex> lock(mLock);
        mLines.emplace_back(priority, text);
    });
}

size_t LogCapture::count(const std::string& part, int priority) const {
    std::lock_guard<std::mutex> lock(mLock);
    return std::count_if(mLines.begin(), mLines.end(), [&](const auto& line) {
        return line.second.find(part) != std::string::npos &&
               (priority < 0 || line.first == priority);
    });
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(mLock);
    mLines.clear();
}

void TapHandler::swallow(std::set<uint32_t> codes) {
    std::lock_guard<std::mutex> lock(mLock);
    mSwallow = std::move(codes);
}

Lines TapHandler::take(uint32_t what) {
    std::lock_guard<std::mutex> lock(mLock);
    return std::exchange(mTaken[what], {});
}

void TapHandler::onMessageReceived(const sp<AMessage>& msg) {
    std::string text = msg->debugString();
    bool handle;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mTaken[msg->what()].push_back(text.substr(text.find('{')));
        // The marker never reaches the controller: handling it would hold a reference to the
        // controller just when the fixture, seeing the marker, counts them.
        handle = mSwallow.count(msg->what()) == 0 && msg->what() != kSettledMarker;
    }
    if (handle) AHandlerReflector::onMessageReceived(msg);
}

Daemon::Daemon() {
    fakes::Fakes().reset();
    gSourceSwitched = false;
    gCastMuted = false;
    CastControlObserverPeer::forgetRememberedStatus();
}

Daemon::~Daemon() {
    stop();
    if (mClockInstalled) android::SetSystemClock(nullptr);
}

void Daemon::startLooperAndBus() {
    mController = new CastController();
    mController->StartALooper();
    tap = new TapHandler(mController.get());
    CastControllerPeer::replaceHandler(*mController, tap);
    mController->RegisterWithVemo();
}

bool Daemon::start() {
    startLooperAndBus();
    const bool made = mController->Init();
    // The observer exists either way, and its reporter says hello once.
    return log.waitFor("castobserver: HandleCurrentTimeData() Entered ++ ") && made;
}

bool Daemon::startDevice() {
    const bool withControl = start();
    mListener = mController->sourceSwitchListener();
    if (mListener == nullptr) return false;
    if (withControl) {
        fakes::Fakes().cast(model::CastEvent::of(model::CastEvent::Kind::RequestResources));
    } else {
        android::SourceSwitchClient::UpdatePlayerState(mListener,
                                                       android::ISourceSwitch::PLAYSTATE_PLAYING);
    }
    fakes::Fakes().drain();
    settle();
    mIdleController = mController->getStrongCount();
    mIdleListener = mListener->getStrongCount();
    log.clear();
    return true;
}

bool Daemon::workersDone() {
    // A release or switch worker holds the controller or the listener until it ends.
    return mListener == nullptr || fakes::WaitFor([&] {
               return mController->getStrongCount() == mIdleController &&
                      mListener->getStrongCount() == mIdleListener;
           });
}

bool Daemon::stop() {
    if (mController == nullptr) return true;
    const bool done = workersDone();
    mListener.clear();
    fakes::Fakes().drain();
    CastControllerPeer::dismantle(*mController);
    fakes::Fakes().reset();
    mController.clear();
    tap.clear();
    return done;
}

bool Daemon::settle() {
    (new AMessage(kSettledMarker, tap->id()))->post();
    return fakes::WaitFor([&] { return !tap->take(kSettledMarker).empty(); });
}

bool Daemon::deliver() {
    fakes::Fakes().drain();
    return settle() && workersDone();
}

bool Daemon::post(const sp<AMessage>& msg) {
    msg->setTarget(mController->handlerId());
    msg->post();
    return settle();
}

bool Daemon::request(const std::string& payload) {
    sp<AMessage> msg = new AMessage(kWhatClientRequest);
    msg->setString(kKeyMessageData, payload.data(), static_cast<ssize_t>(payload.size()));
    return post(msg);
}

bool Daemon::respond(int32_t requestId, int32_t code) {
    sp<AMessage> msg = new AMessage(kWhatCastResponse);
    msg->setInt32(kKeyRequestId, requestId);
    msg->setInt32(kKeyResultMsg, code);
    return post(msg);
}

Lines Daemon::effects(const std::string& prefix, size_t from) {
    std::vector<std::pair<uint64_t, std::string>> all;
    for (const auto& c : world().receiver().calls()) {
        std::string text =
            std::string("cast:") + model::castOpName(c.op) + model::compactJson(c.args);
        if (c.result.isInt() && c.result.asInt() < 0) text += "=" + c.result.asString();
        all.emplace_back(c.stamp.seq, text);
    }
    for (const auto& c : world().source().calls()) {
        all.emplace_back(c.stamp.seq, std::string("source:") + model::sourceOpName(c.op) +
                                          model::compactJson(c.args));
    }
    for (const auto& w : world().bus().writes()) {
        if (w.from != model::Origin::Daemon) continue;
        std::string scope = w.scope == model::Scope::Remote ? "" : model::scopeName(w.scope);
        all.emplace_back(w.stamp.seq, "bus:" + std::to_string(w.mid) + scope + "=" + w.payload);
    }
    for (const auto& c : world().settings().changes()) {
        if (c.from != model::Origin::Daemon) continue;
        all.emplace_back(c.stamp.seq, "setting:" + c.key + "=" + c.value);
    }
    for (const auto& u : world().ui().updates()) {
        std::string text = u.kind == model::UiUpdate::Kind::Clear ? "ui:clear" : "ui:metadata";
        for (size_t i = 0; i < u.fields.size(); ++i) {
            text +=
                (i ? "," : "{") + u.fields[i].key + "=" + model::compactJson(u.fields[i].json());
        }
        all.emplace_back(u.stamp.seq, text + (u.fields.empty() ? "" : "}"));
    }
    std::sort(all.begin(), all.end());
    Lines out;
    for (size_t i = from; i < all.size(); ++i) {
        if (all[i].second.rfind(prefix, 0) == 0) out.push_back(all[i].second.substr(prefix.size()));
    }
    return out;
}

Daemon& SharedDaemon() {
    static Daemon* const daemon = [] {
        auto* made = new Daemon();  // the fakes first: their exit hook runs after ours
        if (!made->start()) {
            std::fprintf(stderr, "the controller did not start over the fakes\n");
            std::abort();
        }
        std::atexit([] { SharedDaemon().stop(); });
        return made;
    }();
    return *daemon;
}

}  // namespace orvix::test
