// One named worker thread that runs posted work in the order it was posted. The fakes use
// one for the message bus's callback thread and one for the cast library's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace orvix::fakes {

class SerialThread {
public:
    // name: the kernel thread name (first 15 characters).
    explicit SerialThread(std::string name);
    ~SerialThread();

    // Queues work; dropped once the thread is stopped. An exception thrown by work is
    // swallowed: the thread goes on with the next item.
    void post(std::function<void()> work);
    // Returns once everything posted before the call has run (at once on the thread itself,
    // which cannot wait for its own work, and once stopped).
    void drain();
    // Drops work not started yet, lets the running item finish and joins. Idempotent.
    void stop();

    // How many items were ever posted: lets a caller see whether more work arrived.
    uint64_t postedCount() const;

private:
    void run();

    const std::string mName;
    // Guards the queue, the counters and mStopping.
    mutable std::mutex mLock;
    std::condition_variable mWake;
    std::condition_variable mProgress;
    std::deque<std::function<void()>> mQueue;
    uint64_t mPosted = 0;
    uint64_t mFinished = 0;
    bool mStopping = false;
    std::thread mThread;
    std::thread::id mThreadId;
};

}  // namespace orvix::fakes
