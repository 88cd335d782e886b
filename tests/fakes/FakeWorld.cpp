#include "tests/fakes/FakeWorld.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/android/Binder.h"
#include "platform/android/BinderPool.h"
#include "platform/android/ProcessState.h"
#include "tests/fakes/FakeCastControl.h"

namespace orvix::fakes {

namespace {

// The alert being delivered on this thread: what readRemoteMessage of its MID answers, so a
// listener reads the payload its alert was for even when later writes have replaced it.
struct AlertInFlight {
    bool active = false;
    int32_t mid = 0;
    const std::string* payload = nullptr;
};
thread_local AlertInFlight tAlert;

FakeWorld* gFakes = nullptr;

}  // namespace

FakeWorld& Fakes() {
    static FakeWorld* const fakes = [] {
        gFakes = new FakeWorld();
        std::atexit([] { gFakes->stopThreads(); });
        return gFakes;
    }();
    return *fakes;
}

FakeWorld::FakeWorld() : mBusThread("vemo-bus"), mCastThread("cast-lib") {}

void FakeWorld::reset() {
    drain();
    std::map<std::string, android::sp<android::IVemoAlerts>> listeners;
    android::sp<android::ISourceSwitchListener> source;
    {
        std::lock_guard<std::mutex> guard(mLock);
        listeners.swap(mBusListeners);
        source = std::move(mSourceListener);
        mCastControl = nullptr;
        mThrowFrom.clear();
    }
    FakeCastControl::ResetCallbackVariables();
    // Dropping the last reference may run daemon destructors that call back into the fakes,
    // so it happens outside the lock and before the models are cleared.
    listeners.clear();
    source.clear();
    drain();
    mWorld.reset();
}

bool FakeWorld::appWrite(int32_t mid, const std::string& payload) {
    return busWrite("", model::Origin::App, model::Scope::Remote, mid, payload);
}

bool FakeWorld::busWrite(const std::string& client, model::Origin from, model::Scope scope,
                         int32_t mid, const std::string& payload) {
    std::lock_guard<std::mutex> order(mBusOrderLock);
    std::vector<model::BusAlert> alerts;
    if (!mWorld.bus().write(client, from, scope, mid, payload, &alerts)) return false;
    for (model::BusAlert& alert : alerts) {
        mBusThread.post([this, alert = std::move(alert)] { deliverAlert(alert); });
    }
    return true;
}

void FakeWorld::deliverAlert(const model::BusAlert& alert) {
    android::sp<android::IVemoAlerts> listener;
    {
        std::lock_guard<std::mutex> guard(mLock);
        auto it = mBusListeners.find(alert.client);
        if (it != mBusListeners.end()) listener = it->second;
    }
    // Registered with the bus but its helper has gone, or reset dropped it.
    if (listener == nullptr) return;
    // Cleared on every way out, a throwing listener included.
    struct InFlight {
        InFlight(const model::BusAlert& a) { tAlert = AlertInFlight{true, a.mid, &a.payload}; }
        ~InFlight() { tAlert = AlertInFlight(); }
    } inFlight(alert);
    listener->MessageBoxAlert(alert.mid);
}

bool FakeWorld::alertSnapshot(int32_t mid, std::string* payload) {
    if (!tAlert.active || tAlert.mid != mid) return false;
    *payload = *tAlert.payload;
    return true;
}

void FakeWorld::setBusListener(const std::string& client,
                               const android::sp<android::IVemoAlerts>& l) {
    android::sp<android::IVemoAlerts> previous;
    std::lock_guard<std::mutex> guard(mLock);
    previous = std::exchange(mBusListeners[client], l);
    // previous dies after the guard (declared first): never inside the lock.
}

void FakeWorld::removeBusClient(const std::string& client) {
    setBusListener(client, nullptr);
    mWorld.bus().dropClient(client);
}

void FakeWorld::rememberSourceListener(
    const android::sp<android::ISourceSwitchListener>& listener) {
    if (listener == nullptr) return;
    android::sp<android::ISourceSwitchListener> previous;
    std::lock_guard<std::mutex> guard(mLock);
    previous = std::exchange(mSourceListener, listener);
}

bool FakeWorld::notify(std::optional<model::SourceNotification> notification) {
    if (!notification) return false;
    android::sp<android::ISourceSwitchListener> listener;
    {
        std::lock_guard<std::mutex> guard(mLock);
        listener = mSourceListener;
        if (listener == nullptr) return false;
        ++mBinderPosted;
        ++mBinderPending;
    }
    using Kind = model::SourceNotification::Kind;
    using L = android::ISourceSwitchListener;
    const Kind kind = notification->kind;
    const uint32_t code = kind == Kind::PlayControl    ? L::TRANSACTION_PLAY_CONTROL
                          : kind == Kind::VolumeChange ? L::TRANSACTION_VOLUME_CHANGE
                                                       : L::TRANSACTION_SOURCE_SWITCH;
    // Counts the work done when the pool lets go of it, run or dropped (a pool shut down
    // drops queued work), so drain() never waits for work that will not come. It holds the
    // listener too, so that once drain() returns the work keeps no reference to it.
    struct Work {
        FakeWorld* world;
        android::sp<android::ISourceSwitchListener> listener;
        ~Work() {
            listener.clear();
            world->binderWorkDone();
        }
    };
    std::shared_ptr<Work> work(new Work{this, listener});
    listener.clear();
    android::ProcessState::self()->startThreadPool();
    android::BinderPool::Post([work, code, kind, text = notification->text] {
        try {
            android::Parcel data;
            if (kind != Kind::SourceSwitch) data.writeCString(text.c_str());
            android::Parcel reply;
            android::sp<android::IBinder> binder =
                android::IInterface::asBinder(work->listener.get());
            if (binder != nullptr) binder->transact(code, data, &reply, 0);
        } catch (...) {
            // A throwing listener must not end the pool thread.
        }
    });
    return true;
}

bool FakeWorld::cast(const model::CastEvent& event) {
    return postCastEvent(mWorld.receiver().recordEvent(event));
}

bool FakeWorld::postCastEvent(const model::CastEvent& event) {
    if (!event.forObserver()) {
        mCastThread.post([event] { FakeCastControl::DeliverToCallbackVariable(event); });
        return true;
    }
    // The event is for the control of this moment: one created later must not receive it.
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mCastControl == nullptr) return false;
        generation = mControlGeneration;
    }
    mCastThread.post([this, event, generation] { deliverToObserver(event, generation); });
    return true;
}

void FakeWorld::deliverToObserver(const model::CastEvent& event, uint64_t generation) {
    chromecast::CastControl::Observer* observer = nullptr;
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mCastControl != nullptr && mControlGeneration == generation) {
            observer = mCastControl->observer();
        }
    }
    if (observer != nullptr) FakeCastControl::DeliverToObserver(observer, event);
}

void FakeWorld::throwFrom(const std::string& call, const std::string& what) {
    std::lock_guard<std::mutex> guard(mLock);
    mThrowFrom = call;
    mThrowWhat = what;
}

void FakeWorld::throwIfTold(const char* call) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mThrowFrom != call) return;
    if (mThrowWhat.empty()) throw 42;
    throw std::runtime_error(mThrowWhat);
}

void FakeWorld::attachCastControl(FakeCastControl* control) {
    std::lock_guard<std::mutex> guard(mLock);
    mCastControl = control;
    ++mControlGeneration;
}

void FakeWorld::detachCastControl(FakeCastControl* control) {
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mCastControl == control) mCastControl = nullptr;
    }
    // An event being delivered may still hold this control's observer; let it finish.
    mCastThread.drain();
}

void FakeWorld::drain() {
    for (;;) {
        auto posted = [this] {
            std::lock_guard<std::mutex> guard(mLock);
            return mBusThread.postedCount() + mCastThread.postedCount() + mBinderPosted;
        };
        const uint64_t before = posted();
        mBusThread.drain();
        mCastThread.drain();
        waitBinderIdle();
        if (posted() == before) return;
    }
}

void FakeWorld::waitBinderIdle() {
    // A pool thread cannot wait for the pool work it is part of.
    if (android::BinderPool::OnPoolThread()) return;
    std::unique_lock<std::mutex> lock(mLock);
    mBinderIdle.wait(lock, [this] { return mBinderPending == 0; });
}

void FakeWorld::binderWorkDone() {
    {
        std::lock_guard<std::mutex> guard(mLock);
        --mBinderPending;
    }
    mBinderIdle.notify_all();
}

void FakeWorld::stopThreads() {
    mBusThread.stop();
    mCastThread.stop();
}

}  // namespace orvix::fakes
