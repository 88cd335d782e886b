#include "cast/CastControlObserver.h"

#include <syslog.h>

#include "core/CastController.h"
#include "core/Log.h"

using android::sp;

namespace {
// No media status has been seen yet; any real player state differs from it.
constexpr int32_t kPlayerStateUnknown = -1;
}  // namespace

CastControlObserver::CastControlObserver(const sp<CastController>& controller)
    : mLastPlayerState(kPlayerStateUnknown),
      mController(controller),
      mVemoHelper(nullptr),
      mReportTime(false),
      mCurrentTimeSec(0),
      mConnected(false),
      mVerboseLog(false),
      mStopReporter(false) {
    orvix::Log(LOG_INFO, "castobserver: %s() Cast control observer instance created", __func__);
    mVemoHelper = new android::VEMOHelper();
    while (!mVemoHelper->verifyConnection_l()) {
        android::SleepUs(3000000);
    }
    mReporter = std::thread(&CastControlObserver::HandleCurrentTimeData, this);
}

CastControlObserver::~CastControlObserver() {
    orvix::Log(LOG_INFO, "castobserver: %s() Entered ", "~CastControlObserver");
    {
        std::lock_guard<std::mutex> lock(mTimeMutex);
        mStopReporter = true;
        mReportTime = false;
    }
    mTimeCondition.notify_all();
    if (mReporter.joinable()) {
        mReporter.join();
    }
    delete mVemoHelper;
    mController.clear();
}

void CastControlObserver::OnControlConnected() {}

void CastControlObserver::OnControlDisconnected() {}

void CastControlObserver::OnResponse(int32_t /*requestId*/, int32_t /*castError*/) {}

void CastControlObserver::OnCastStatus(const chromecast::CastStatus& /*status*/) {}

void CastControlObserver::OnMediaStatus(const chromecast::MediaStatus& /*status*/) {}

void CastControlObserver::HandleCurrentTimeData() {
    std::unique_lock<std::mutex> lock(mTimeMutex);
    mTimeCondition.wait(lock, [this] { return mStopReporter; });
}
