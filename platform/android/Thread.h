// android::Thread: a named thread that runs threadLoop() again for as long as it returns true.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/android/RefBase.h"

namespace android {

typedef int32_t status_t;
enum : status_t {
    OK = 0,
    NO_ERROR = 0,
    UNKNOWN_ERROR = -2147483647 - 1,
    NO_MEMORY = -12,
    INVALID_OPERATION = -38,
    BAD_VALUE = -22,
    NAME_NOT_FOUND = -2,
    WOULD_BLOCK = -11,
    DEAD_OBJECT = -32,
    UNKNOWN_TRANSACTION = -74,
};

enum { PRIORITY_DEFAULT = 0 };

class Thread : virtual public RefBase {
public:
    // canCallJava is accepted for the platform's sake and ignored.
    explicit Thread(bool canCallJava = true);
    virtual ~Thread();

    // Starts the thread. The name is kept whole; the kernel sees its first 15 characters.
    // Returns once the thread has its kernel tid; INVALID_OPERATION while already running.
    virtual status_t run(const char* name, int32_t priority = PRIORITY_DEFAULT, size_t stack = 0);
    // Asks threadLoop() not to be called again; does not wait.
    virtual void requestExit();
    virtual status_t readyToRun();

    // Waits until the thread has ended; WOULD_BLOCK when called from the thread itself.
    status_t join();
    bool isRunning() const;
    const std::string& name() const { return mName; }
    pid_t getTid() const;

protected:
    bool exitPending() const;

private:
    virtual bool threadLoop() = 0;
    static void* trampoline(void* self);

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    mutable std::mutex mLock;
    // Signalled when the thread has its tid and when it ends.
    std::condition_variable mStateChanged;
    std::string mName;
    bool mRunning = false;
    bool mExitPending = false;
    pid_t mTid = -1;
    // Keeps the object alive while its thread runs.
    sp<Thread> mHoldSelf;
};

}  // namespace android
