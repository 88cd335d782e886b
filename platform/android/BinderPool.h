// Not part of the platform's API: the hook through which a device library hands incoming
// binder work to the pool threads that ProcessState starts and joinThreadPool() joins.
#pragma once

#include <functional>

namespace android {

class BinderPool {
public:
    // Queues work for a pool thread. Work queued before the pool starts waits for it.
    static void Post(std::function<void()> work);
    // Ends joinThreadPool() and the pool threads, joining them unless called from one, and
    // drops queued work. Afterwards Post drops work and joinThreadPool() returns at once until
    // ProcessState::startThreadPool() opens the pool again (tests and orderly shutdown only).
    static void Shutdown();
    // True when the calling thread is a pool thread (or has joined the pool).
    static bool OnPoolThread();
};

}  // namespace android
