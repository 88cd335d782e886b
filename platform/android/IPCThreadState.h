// The binder runtime's per-thread state.
#pragma once

#include "platform/android/RefBase.h"

namespace android {

class IPCThreadState {
public:
    static IPCThreadState* self();
    // The calling thread serves incoming binder work until the pool is shut down, which the
    // daemon never does.
    void joinThreadPool(bool isMain = true);

private:
    IPCThreadState() = default;
};

}  // namespace android
