#include "platform/android/Thread.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <exception>

namespace android {

namespace {
// The kernel keeps 15 characters of a thread's name and refuses longer ones outright.
constexpr size_t kKernelNameMax = 15;
}  // namespace

Thread::Thread(bool /*canCallJava*/) {}

Thread::~Thread() = default;

status_t Thread::run(const char* name, int32_t, size_t stack) {
    std::unique_lock<std::mutex> lock(mLock);
    if (mRunning) return INVALID_OPERATION;
    mName = name ? name : "";
    mExitPending = false;
    mTid = -1;
    mRunning = true;
    mHoldSelf = this;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stack > 0) {
        const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attr, stack < minimum ? minimum : stack);
    }
    pthread_t thread;
    const int error = pthread_create(&thread, &attr, &Thread::trampoline, this);
    pthread_attr_destroy(&attr);
    if (error != 0) {
        mRunning = false;
        // Dropped after the unlock: it may be the last reference to this object.
        sp<Thread> hold = std::move(mHoldSelf);
        lock.unlock();
        return UNKNOWN_ERROR;
    }
    mStateChanged.wait(lock, [this] { return mTid != -1; });
    return OK;
}

void* Thread::trampoline(void* arg) {
    Thread* const self = static_cast<Thread*>(arg);
    sp<Thread> strong;
    std::string kernelName;
    {
        std::lock_guard<std::mutex> lock(self->mLock);
        strong = self->mHoldSelf;
        self->mHoldSelf.clear();
        kernelName = self->mName.substr(0, kKernelNameMax);
        self->mTid = gettid();
    }
    self->mStateChanged.notify_all();
    pthread_setname_np(pthread_self(), kernelName.c_str());

    try {
        if (self->readyToRun() == OK) {
            while (!self->exitPending() && self->threadLoop()) {
            }
        }
    } catch (...) {
        // Nothing may leave a thread; an exception simply ends this one.
    }

    {
        std::lock_guard<std::mutex> lock(self->mLock);
        self->mRunning = false;
        self->mExitPending = true;
        self->mStateChanged.notify_all();
    }
    // Possibly the last reference: the object may be deleted here, on its own thread.
    strong.clear();
    return nullptr;
}

void Thread::requestExit() {
    std::lock_guard<std::mutex> lock(mLock);
    mExitPending = true;
}

status_t Thread::readyToRun() {
    return OK;
}

status_t Thread::join() {
    std::unique_lock<std::mutex> lock(mLock);
    if (mRunning && mTid == gettid()) return WOULD_BLOCK;
    mStateChanged.wait(lock, [this] { return !mRunning; });
    return OK;
}

bool Thread::isRunning() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mRunning;
}

pid_t Thread::getTid() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mRunning ? mTid : -1;
}

bool Thread::exitPending() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mExitPending;
}

}  // namespace android
