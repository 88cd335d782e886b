// The binder runtime's process state: owner of the binder thread pool.
#pragma once

#include <cstddef>

#include "platform/android/RefBase.h"

namespace android {

class ProcessState : public RefBase {
public:
    static sp<ProcessState> self();
    // Starts the pool's own threads ("Binder:<pid>_1" and "_2"); later calls do nothing
    // until BinderPool::Shutdown().
    void startThreadPool();
    // The pool's own threads that are running, callers of joinThreadPool() not counted.
    size_t poolThreadCount() const;

private:
    ProcessState() = default;
    friend class BinderPool;
};

}  // namespace android
