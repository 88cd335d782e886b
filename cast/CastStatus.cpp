// The controller's side of the control's connection and of the receiver's device status.
#include <syslog.h>

#include <system_error>
#include <thread>

#include "core/CastController.h"
#include "core/Log.h"
#include "core/Messages.h"

using android::AMessage;
using android::sp;

namespace {
constexpr int kNameAttempts = 6;
constexpr int kMonitorRounds = 10;
constexpr int64_t kMonitorPeriodUs = 10 * 1000000LL;
}  // namespace

std::string CastController::LookUpDeviceName(bool readBus) {
    std::string name;
    if (readBus && mVemoHelper != nullptr) {
        mVemoHelper->readRemoteMessage(kMidDeviceName, name);
    }
    if (name.empty() && getFriendlyName(name) == 0 && name.empty()) {
        name = "OrvixSync_";
    }
    return name;
}

void CastController::HandleOnControlConnected() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered ++", __func__);
    std::string name = LookUpDeviceName(true);

    int32_t result = -1;
    int attempts = 0;
    while (attempts < kNameAttempts) {
        ++attempts;
        result = ChangeCastName(name);
        if (result != -1) {
            break;
        }
        android::SleepUs(1000000);
    }
    orvix::Log(LOG_NOTICE, "castcontroller: %s() error ID:%d, retries:%d, cast name changed:%s",
               __func__, result, attempts, result != -1 ? "YES!" : "NO");

    if (mMultizoneRequestId == -1) {
        std::string delay;
        GetEnvItemByName(kGoogleCastPlayerLatency, delay);
        if (delay.empty()) {
            delay = "0";
        }
        sp<AMessage> msg = newMessage(kWhatMultizoneDelay);
        msg->setString(kKeyMultizoneDelay, delay.c_str(), static_cast<ssize_t>(delay.size()));
        msg->post();
    } else {
        orvix::Log(LOG_NOTICE,
                   "castcontroller: %s() Multizone delay has already set! mMultizoneRequestId : "
                   "%d",
                   __func__, mMultizoneRequestId);
    }

    mControlConnected = true;

    std::string version;
    {
        std::lock_guard<std::mutex> lock(mVersionMutex);
        version = mCastLiteVersion;
    }
    if (version.empty()) {
        orvix::Log(LOG_INFO, "castcontroller: CastLite version:%s (empty) request cast status!",
                   version.c_str());
        newMessage(kWhatTriggerCastStatus)->post();
    }
}

void CastController::parseMessageAndSet(const sp<AMessage>& msg, const char* key,
                                        std::string& value, const char* envKey) {
    android::AString text;
    if (!msg->findString(key, &text)) {
        return;
    }
    value = text.str();
    orvix::Log(LOG_INFO, "castcontroller: parseMessageAndSet() %s: %s", key, value.c_str());
    if (envKey != nullptr) {
        SetEnvItemByName(envKey, value);
    }
}

void CastController::HandleOnCastStatusResponse(const sp<AMessage>& msg) {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++", __func__);
    if (mVemoHelper == nullptr) {
        return;
    }

    std::string value;
    parseMessageAndSet(msg, kKeyCastName, value, nullptr);
    std::string busName = LookUpDeviceName(true);
    if (!value.empty() && value != busName) {
        orvix::Log(LOG_NOTICE,
                   "castcontroller: %s() Castname changed! Notify all. Cast name: %s, Vemo name: "
                   "%s",
                   __func__, value.c_str(), busName.c_str());
        mVemoHelper->writeRemoteMessage(kMidDeviceName, value, 0);
        mVemoHelper->writeLocalMessage(kMidDeviceName, value);
        SetEnvItemByName(kDeviceFriendlyName, value);
    }

    value.clear();
    parseMessageAndSet(msg, kKeyBuildNumber, value, kGoogleCastFirmwareVersion);
    bool newVersion = false;
    {
        std::lock_guard<std::mutex> lock(mVersionMutex);
        if (!value.empty() && value != mCastLiteVersion) {
            std::string tos;
            std::string crash;
            GetEnvItemByName(kGoogleCastTOS, tos);
            GetEnvItemByName(kGoogleCastUsageReport, crash);
            orvix::Log(LOG_INFO,
                       "castcontroller: %s() Cast Lite version:%s ENV Cast ToS state:%s Crash "
                       "report state:%s",
                       __func__, value.c_str(), tos.c_str(), crash.c_str());
            mCastLiteVersion = value;
            newVersion = true;
        }
    }
    if (newVersion) {
        mVemoHelper->writeRemoteMessage(kMidCastVersion, value, 0);
    }

    int32_t usageReport = 0;
    if (msg->findInt32(kKeyUsageReport, &usageReport)) {
        orvix::Log(LOG_INFO, "castcontroller: %s() Usage report: %d", __func__, usageReport);
        SetEnvItemByName(kGoogleCastUsageReport, usageReport != 0 ? "true" : "false");
    }

    value.clear();
    parseMessageAndSet(msg, kKeyLocale, value, kGoogleCastFactoryLocale);

    value.clear();
    parseMessageAndSet(msg, kKeyTimezone, value, nullptr);
    orvix::Log(LOG_INFO, "castcontroller: %s() cast Timezone: %s, Already set timezone: %s",
               __func__, value.c_str(), mTimezone.c_str());
    if (!value.empty() && value != mTimezone) {
        HandleCastTimezoneData(value);
    }

    value.clear();
    parseMessageAndSet(msg, kKeyCastAppName, value, nullptr);
    std::lock_guard<std::mutex> lock(mNowPlayingMutex);
    if (!value.empty() && value != mNowPlaying.appName) {
        mNowPlaying.appName = value;
    }
}

void CastController::TriggerCastStatus() {
    orvix::Log(LOG_INFO, "castcontroller: %s() called ++ ", __func__);
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (control == nullptr) {
        return;
    }
    int32_t requestId = control->RequestCastStatus();
    orvix::Log(LOG_NOTICE, "castcontroller: %s() error ID:%d, Triggered cast status ?:%s", __func__,
               requestId, requestId != -1 ? "YES!" : "NO");
    {
        std::lock_guard<std::mutex> lock(mMonitorMutex);
        ++mActiveMonitors;
    }
    try {
        std::thread(&CastController::MonitorCastLiteVersion, this).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the status requested above may still bring the version, and
        // the next connection triggers again. Nothing may leave the looper thread.
        std::lock_guard<std::mutex> lock(mMonitorMutex);
        --mActiveMonitors;
        mMonitorCondition.notify_all();
    }
}

bool CastController::MonitorSleep(int64_t deadlineUs) {
    std::unique_lock<std::mutex> lock(mMonitorMutex);
    while (!mStopMonitors && android::SystemClock().nowUs() < deadlineUs) {
        android::SystemClock().waitUntil(mMonitorCondition, lock, deadlineUs);
    }
    return !mStopMonitors;
}

void CastController::MonitorCastLiteVersion() {
    // Each period is counted from before the line or the request that opens it, so whoever
    // sees one of them knows when the next round falls due.
    int64_t due = android::SystemClock().nowUs() + kMonitorPeriodUs;
    orvix::Log(LOG_NOTICE, "castcontroller: MonitorCastLiteVersion() started!");
    bool awake = MonitorSleep(due);
    for (int round = 0; awake && round < kMonitorRounds; ++round) {
        {
            std::lock_guard<std::mutex> lock(mVersionMutex);
            std::shared_ptr<chromecast::CastControl> control = castControl();
            if (!mCastLiteVersion.empty() || control == nullptr) {
                break;
            }
            due = android::SystemClock().nowUs() + kMonitorPeriodUs;
            int32_t requestId = control->RequestCastStatus();
            orvix::Log(LOG_INFO, "castcontroller: MonitorCastLiteVersion() request id:%d",
                       requestId);
        }
        awake = MonitorSleep(due);
    }
    std::lock_guard<std::mutex> lock(mMonitorMutex);
    --mActiveMonitors;
    mMonitorCondition.notify_all();
}

void CastController::StopMonitors() {
    std::unique_lock<std::mutex> lock(mMonitorMutex);
    mStopMonitors = true;
    mMonitorCondition.notify_all();
    mMonitorCondition.wait(lock, [this] { return mActiveMonitors == 0; });
}
