// A message looper with a thread of its own: messages run one at a time in due order,
// equal due times in post order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/android/AHandler.h"
#include "platform/android/AMessage.h"
#include "platform/android/RefBase.h"
#include "platform/android/Thread.h"

namespace android {

class ALooper : public RefBase {
public:
    typedef android::handler_id handler_id;

    ALooper();

    // Ids start at 1 and are unique in the process; INVALID_OPERATION when the handler is
    // null or already registered.
    handler_id registerHandler(const sp<AHandler>& handler);
    void unregisterHandler(handler_id handlerID);

    void setName(const char* name);
    const char* getName() const { return mName.c_str(); }

    // runOnCallingThread true runs the loop on the caller until stop(); otherwise the looper
    // starts a thread named after itself. canCallJava and priority are accepted for the
    // platform's sake and ignored.
    status_t start(bool runOnCallingThread = false, bool canCallJava = false,
                   int32_t priority = PRIORITY_DEFAULT);
    // Ends the loop and waits for its thread. Called on the looper thread itself it only asks
    // the loop to end after the current message. Queued messages stay queued.
    status_t stop();

    static int64_t GetNowUs();

protected:
    virtual ~ALooper();

private:
    friend class AMessage;
    friend class ALooperRoster;

    struct Event {
        int64_t whenUs = 0;
        sp<AMessage> message;
        // Resolved when posted, so that delivery needs no look-up in the roster.
        wp<AHandler> handler;
        handler_id target = 0;
        // Posted without a delay: due already, whatever the clock reads by now.
        bool dueAtPost = false;
    };

    void post(const sp<AMessage>& msg, const sp<AHandler>& handler, int64_t delayUs);
    // Waits for the next due message and delivers it; false once the looper is stopping.
    bool loop();
    void deliver(const Event& event);
    void threadMain();
    void runLocally();

    std::string mName = "ALooper";
    // Guards the queue, the flags and mThread.
    std::mutex mLock;
    std::condition_variable mQueueChanged;
    std::deque<Event> mEventQueue;
    bool mStopping = false;
    bool mRunning = false;
    bool mRunningLocally = false;
    std::thread mThread;
};

}  // namespace android
