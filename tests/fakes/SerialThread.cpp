#include "tests/fakes/SerialThread.h"

#include <pthread.h>

namespace orvix::fakes {

SerialThread::SerialThread(std::string name) : mName(std::move(name)) {
    mThread = std::thread([this] { run(); });
    std::lock_guard<std::mutex> guard(mLock);
    mThreadId = mThread.get_id();
}

SerialThread::~SerialThread() {
    stop();
}

void SerialThread::post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mStopping) return;
        mQueue.push_back(std::move(work));
        ++mPosted;
    }
    mWake.notify_one();
}

void SerialThread::drain() {
    std::unique_lock<std::mutex> lock(mLock);
    if (std::this_thread::get_id() == mThreadId) return;
    const uint64_t target = mPosted;
    mProgress.wait(lock, [&] { return mStopping || mFinished >= target; });
}

void SerialThread::stop() {
    std::thread toJoin;
    {
        std::lock_guard<std::mutex> guard(mLock);
        mStopping = true;
        mFinished += mQueue.size();
        mQueue.clear();
        // The thread cannot join itself; it ends on its own once the running item returns.
        if (std::this_thread::get_id() == mThreadId) {
            if (mThread.joinable()) mThread.detach();
        } else {
            toJoin = std::move(mThread);
        }
    }
    mWake.notify_all();
    mProgress.notify_all();
    if (toJoin.joinable()) toJoin.join();
}

uint64_t SerialThread::postedCount() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mPosted;
}

void SerialThread::run() {
    pthread_setname_np(pthread_self(), mName.substr(0, 15).c_str());
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mWake.wait(lock, [&] { return mStopping || !mQueue.empty(); });
        if (mStopping) return;
        std::function<void()> work = std::move(mQueue.front());
        mQueue.pop_front();
        lock.unlock();
        try {
            work();
        } catch (...) {
            // A failing callback must not take the thread (and the process) down.
        }
        // Destroyed before counting as finished, so drain() also covers what work held.
        work = nullptr;
        lock.lock();
        ++mFinished;
        mProgress.notify_all();
    }
}

}  // namespace orvix::fakes
