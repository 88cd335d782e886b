// The daemon's one controller: the controller thread, the bus listener and the target of the
// looper handler. It owns the looper, the cast control, the observer, the source-switch
// listener and the bus client, and the state every handler shares.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "cast/NowPlayingInfo.h"
#include "platform/CastLite.h"
#include "platform/DeviceServices.h"
#include "platform/Foundation.h"
#include "requests/ClientSetRequest.h"

namespace Json {
class Value;
}

class CastControlObserver;
class CastSourceSwitchListener;

class CastController : public android::Thread, public android::IVemoAlerts {
public:
    CastController();
    ~CastController() override;

    // Bus listener: runs on the bus library's thread.
    void MessageBoxAlert(int32_t mid) override;
    void MessageBoxStatus(int32_t status) override;

    // Start-up, on the controller thread.
    void StartALooper();
    void RegisterWithVemo();
    int WaitForCastConnection();
    bool Init();
    void ReadEurekaInfoCurl();

    // Gives the stop signal after suspending the cast control; bus thread.
    void HandleCastSuspend(int reason);

    // Looper dispatch; reached only through the handler reflector.
    void onMessageReceived(const android::sp<android::AMessage>& msg);
    void Dispatch(const android::sp<android::AMessage>& msg);

    // Client requests (looper thread).
    void HandleClientRequest(const android::sp<android::AMessage>& msg);
    void HandleClientGetRequest(const Json::Value& request);
    void HandleClientSetRequest(const Json::Value& request);
    void HandleOnCastResponse(const android::sp<android::AMessage>& msg);
    void HandleClientResponsejson(int32_t code, std::string& reply, const ClientSetRequest& request,
                                  int32_t requestId);
    static std::string ResultCodeToMessage(int32_t code);

    // Cast session (looper thread, except the version monitor).
    void HandleOnControlConnected();
    void HandleOnCastStatusResponse(const android::sp<android::AMessage>& msg);
    void TriggerCastStatus();
    void MonitorCastLiteVersion();
    int32_t ChangeCastName(const std::string& name);
    void parseMessageAndSet(const android::sp<android::AMessage>& msg, const char* key,
                            std::string& value, const char* envKey);
    void HandleOnMediaStatus(const android::sp<android::AMessage>& msg);
    void updateMetadata(const NowPlayingInfo& info);
    static android::sp<android::IUIManager> getInstance();
    void ClearNowPlaying();
    void HandleMultiZoneDelay(const android::sp<android::AMessage>& msg);

    // Audio focus and device control (looper thread).
    void HandleSourceSwitchEvent();
    void HandleGracefulCleanUp();
    void HandleOnVolumeEvent(const android::sp<android::AMessage>& msg);
    void HandleOnPlaycontrolEvent(const android::sp<android::AMessage>& msg);
    void HandleOEMTimezoneData();
    void HandleCastTimezoneData(const std::string& zone);

    // The objects Init creates. Init writes them on the controller thread while bus, binder
    // and cast library threads may already read them, so they are read and written under
    // mObjectsMutex; callers get a reference of their own.
    std::shared_ptr<chromecast::CastControl> castControl() const;
    std::shared_ptr<CastControlObserver> observer() const;
    android::sp<CastSourceSwitchListener> sourceSwitchListener() const;
    // The looper handler's id, the target of every message posted to this controller.
    android::handler_id handlerId() const;

private:
    friend struct CastControllerPeer;  // tests

    bool threadLoop() override;
    // Builds a message for this controller's handler.
    android::sp<android::AMessage> newMessage(uint32_t what) const;
    // Sends payload to the bus's remote clients; the result is not looked at anywhere.
    void WriteBus(int32_t mid, const std::string& payload);
    // The device's name: the bus's (when readBus), else the device's, else the fallback.
    std::string LookUpDeviceName(bool readBus);
    // Waits until deadlineUs on the process clock; false when the monitors are being stopped.
    bool MonitorSleep(int64_t deadlineUs);
    // Ends every version monitor before the controller goes away.
    void StopMonitors();

    std::unordered_map<int32_t, ClientSetRequest> mPendingRequests;  // looper thread
    std::shared_ptr<CastControlObserver> mObserver;                  // mObjectsMutex
    std::shared_ptr<chromecast::CastControl> mCastControl;           // mObjectsMutex
    android::sp<CastSourceSwitchListener> mSourceSwitchListener;     // mObjectsMutex
    android::Vector<int32_t> mVemoMids;
    android::sp<android::ALooper> mLooper;
    android::sp<android::AHandlerReflector<CastController>> mHandler;
    android::VEMOHelper* mVemoHelper;
    int32_t mMultizoneRequestId;  // looper thread
    bool mControlConnected;       // looper thread
    std::mutex mStopMutex;
    std::condition_variable mStopCondition;
    bool mStopRequested;         // mStopMutex
    int32_t mTimezoneRequestId;  // looper thread
    std::string mTimezone;       // looper thread
    // Written on the looper thread and reset by the release worker: mNowPlayingMutex.
    NowPlayingInfo mNowPlaying;
    std::mutex mNowPlayingMutex;
    std::string mCastLiteVersion;  // mVersionMutex
    std::mutex mVersionMutex;
    mutable std::mutex mObjectsMutex;
    // Version monitors run detached and use this object without a reference of their own;
    // the destructor waits for them.
    std::mutex mMonitorMutex;
    std::condition_variable mMonitorCondition;
    int mActiveMonitors = 0;     // mMonitorMutex
    bool mStopMonitors = false;  // mMonitorMutex
};
