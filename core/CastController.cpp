#include "core/CastController.h"

#include <syslog.h>
#include <unistd.h>

#include <new>
#include <thread>

#include "cast/CastControlObserver.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "device/CastSourceSwitchListener.h"

using android::sp;

CastController::CastController()
    : android::Thread(true),
      mVemoHelper(nullptr),
      mMultizoneRequestId(-1),
      mControlConnected(false),
      mStopRequested(false),
      mTimezoneRequestId(-1) {
    orvix::Log(LOG_INFO, "castcontroller:  %s() CastController instance created!", __func__);
}

CastController::~CastController() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered", "~CastController");
    StopMonitors();
    // The looper is not stopped explicitly: it ends with its last reference.
    mLooper.clear();
    mHandler.clear();
    if (mVemoHelper != nullptr) {
        mVemoHelper->unregisterListener(sp<android::IVemoAlerts>(this), mVemoMids);
        delete mVemoHelper;
        mVemoHelper = nullptr;
    }
}

std::shared_ptr<chromecast::CastControl> CastController::castControl() const {
    std::lock_guard<std::mutex> lock(mObjectsMutex);
    return mCastControl;
}

std::shared_ptr<CastControlObserver> CastController::observer() const {
    std::lock_guard<std::mutex> lock(mObjectsMutex);
    return mObserver;
}

sp<CastSourceSwitchListener> CastController::sourceSwitchListener() const {
    std::lock_guard<std::mutex> lock(mObjectsMutex);
    return mSourceSwitchListener;
}

bool CastController::threadLoop() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered, thread id:%d", __func__,
               static_cast<int>(gettid()));
    StartALooper();
    RegisterWithVemo();
    WaitForCastConnection();
    if (!Init()) {
        return false;
    }
    CastCliInit();
    std::thread eureka(&CastController::ReadEurekaInfoCurl, this);
    if (setvemovolume) {
        setvemovolume();
    }
    eureka.join();
    orvix::Log(LOG_NOTICE, "castcontroller: %s() Deallocate Read eureka thread resources!",
               __func__);
    orvix::Log(LOG_INFO,
               "castcontroller: %s() Started cast observer and CLI thread! wait for stop signal",
               __func__);
    {
        std::unique_lock<std::mutex> lock(mStopMutex);
        mStopCondition.wait(lock, [this] { return mStopRequested; });
    }
    orvix::Log(LOG_ERR, "castcontroller: %s() thread woken up, stopping castcontrol", __func__);
    CastCliExit();
    orvix::Log(LOG_ERR, "castcontroller: %s() All resources cleaned up! destroying bye!", __func__);
    return false;
}

int CastController::WaitForCastConnection() {
    orvix::Log(LOG_INFO, "castcontroller: %s() checking for castcontrolsocket @ ->%s, TID:%d",
               __func__, kCastControlSocketPath.c_str(), static_cast<int>(gettid()));
    while (access(kCastControlSocketPath.c_str(), R_OK | W_OK) != 0) {
        android::SleepUs(1000000);
    }
    return 0;
}

bool CastController::Init() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered, TID:%d", __func__,
               static_cast<int>(gettid()));
    auto observer = std::make_shared<CastControlObserver>(sp<CastController>(this));
    {
        std::lock_guard<std::mutex> lock(mObjectsMutex);
        mObserver = observer;
    }

    chromecast::CastControl* raw =
        chromecast::CastControl::Create(kCastControlSocketPath, observer.get());
    std::shared_ptr<chromecast::CastControl> control;
    try {
        // On failure shared_ptr destroys the control through its virtual destructor.
        control.reset(raw);
    } catch (const std::bad_alloc&) {
        control.reset();
    }
    {
        std::lock_guard<std::mutex> lock(mObjectsMutex);
        mCastControl = control;
    }

    sp<CastSourceSwitchListener> listener = new CastSourceSwitchListener(sp<CastController>(this));
    {
        std::lock_guard<std::mutex> lock(mObjectsMutex);
        mSourceSwitchListener = listener;
    }

    if (observer != nullptr && control != nullptr && listener != nullptr) {
        listener->RegisterWithCastCli();
        return true;
    }
    orvix::Log(LOG_ERR,
               "castcontroller: %s() Failed to construct castcontrol, observer and SS listerner "
               "instances!",
               __func__);
    return false;
}

void CastController::HandleCastSuspend(int reason) {
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (control == nullptr) {
        return;
    }
    control->Suspend(reason);
    {
        std::lock_guard<std::mutex> lock(mStopMutex);
        mStopRequested = true;
    }
    mStopCondition.notify_one();
    orvix::Log(LOG_NOTICE, "castcontroller: %s() Notified waiting thread to clean up resources!",
               __func__);
}
