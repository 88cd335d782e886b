#include "platform/android/ALooper.h"

#include <pthread.h>

#include <iterator>
#include <limits>

#include "platform/android/ALooperRoster.h"
#include "platform/android/Clock.h"

namespace android {

namespace {
constexpr size_t kKernelNameMax = 15;

// Set when a looper is destroyed on its own thread (a handler dropped the last reference):
// the loop must then return without touching the object again.
thread_local const ALooper* tDestroyedLooper = nullptr;
}  // namespace

ALooper::ALooper() = default;

ALooper::~ALooper() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
        mQueueChanged.notify_all();
        if (mThread.joinable()) {
            if (mThread.get_id() == std::this_thread::get_id()) {
                mThread.detach();
                tDestroyedLooper = this;
            } else {
                thread = std::move(mThread);
            }
        }
    }
    if (thread.joinable()) thread.join();
    ALooperRoster::ForgetLooper(this);
}

handler_id ALooper::registerHandler(const sp<AHandler>& handler) {
    return ALooperRoster::RegisterHandler(this, handler);
}

void ALooper::unregisterHandler(handler_id handlerID) {
    ALooperRoster::UnregisterHandler(handlerID);
}

void ALooper::setName(const char* name) {
    mName = name ? name : "";
}

status_t ALooper::start(bool runOnCallingThread, bool, int32_t) {
    std::unique_lock<std::mutex> lock(mLock);
    if (mRunning) return INVALID_OPERATION;
    mRunning = true;
    mStopping = false;
    if (runOnCallingThread) {
        mRunningLocally = true;
        lock.unlock();
        runLocally();
        return OK;
    }
    const std::string kernelName = mName.substr(0, kKernelNameMax);
    try {
        mThread = std::thread([this, kernelName] {
            pthread_setname_np(pthread_self(), kernelName.c_str());
            threadMain();
        });
    } catch (...) {
        mRunning = false;
        return UNKNOWN_ERROR;
    }
    return OK;
}

void ALooper::runLocally() {
    // The caller's loop may drop the last outside reference; the object has to outlive it.
    sp<ALooper> keep(this);
    for (;;) {
        try {
            if (!loop()) break;
        } catch (...) {
        }
    }
    std::lock_guard<std::mutex> lock(mLock);
    mRunningLocally = false;
    mRunning = false;
    mStopping = false;
}

status_t ALooper::stop() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (!mRunning) return INVALID_OPERATION;
        mStopping = true;
        mQueueChanged.notify_all();
        if (mRunningLocally) return OK;
        // On the looper thread the flag is all that can be done; another stop() joins later.
        if (mThread.get_id() == std::this_thread::get_id()) return OK;
        // Another caller is already joining the thread.
        if (!mThread.joinable()) return OK;
        thread = std::move(mThread);
    }
    thread.join();
    std::lock_guard<std::mutex> lock(mLock);
    mRunning = false;
    mStopping = false;
    return OK;
}

int64_t ALooper::GetNowUs() {
    return SystemClock().nowUs();
}

void ALooper::post(const sp<AMessage>& msg, const sp<AHandler>& handler, int64_t delayUs) {
    const int64_t nowUs = SystemClock().nowUs();
    int64_t whenUs = nowUs;
    if (delayUs > 0) {
        whenUs = delayUs > std::numeric_limits<int64_t>::max() - nowUs
                     ? std::numeric_limits<int64_t>::max()
                     : nowUs + delayUs;
    }
    bool newFront = false;
    {
        std::lock_guard<std::mutex> lock(mLock);
        // Nearly every post is due now or later than all queued ones, so the place is looked
        // for from the back: a burst costs the same per message however long the queue is.
        // Equal due times stay in post order.
        auto it = mEventQueue.end();
        while (it != mEventQueue.begin() && std::prev(it)->whenUs > whenUs) --it;
        newFront = it == mEventQueue.begin();
        mEventQueue.insert(it, Event{whenUs, msg, handler, msg->target(), delayUs <= 0});
    }
    // Only the loop waits on the condition, and only for the front's due time: a message
    // behind the front changes nothing it waits for. Notified after the lock is released so
    // that the woken loop does not at once block on it.
    if (newFront) mQueueChanged.notify_one();
}

bool ALooper::loop() {
    Event event;
    {
        std::unique_lock<std::mutex> lock(mLock);
        for (;;) {
            if (mStopping) return false;
            if (mEventQueue.empty()) {
                mQueueChanged.wait(lock);
                continue;
            }
            // A message posted without a delay spares the loop a clock read.
            const Event& front = mEventQueue.front();
            if (!front.dueAtPost && front.whenUs > SystemClock().nowUs()) {
                SystemClock().waitUntil(mQueueChanged, lock, front.whenUs);
                continue;
            }
            event = std::move(mEventQueue.front());
            mEventQueue.pop_front();
            break;
        }
    }
    // No lock of ours is held while the handler runs; after this the object may be gone.
    deliver(event);
    return true;
}

void ALooper::deliver(const Event& event) {
    ALooperRoster::DeliverMessage(event.message, event.handler, event.target);
}

void ALooper::threadMain() {
    for (;;) {
        bool more = true;
        try {
            more = loop();
        } catch (...) {
            // Nothing may leave the looper thread; whatever was being handled is dropped.
        }
        if (tDestroyedLooper == this) {
            tDestroyedLooper = nullptr;
            return;
        }
        if (!more) return;
    }
}

}  // namespace android
