// The binder runtime's process state: owner of the binder thread pool.
#pragma once

#include <cstddef>

#include "platform/android/RefBase.h"

namespace android {

class ProcessState : public RefBase {
public:
    static sp<ProcessState> self();
    // Starts the pool's own threads; later calls do nothing.
    void startThreadPool();
    size_t poolThreadCount() const;

private:
    ProcessState() = default;
    friend class BinderPool;
};

}  // namespace android
