// The UI manager lookup and the now-playing record.
#include <syslog.h>

#include "core/CastController.h"
#include "core/Log.h"

using android::sp;

sp<android::IUIManager> CastController::getInstance() {
    orvix::Log(LOG_ERR, "castcontroller: sp<IVemoTransport> getInstance()");
    // Looked up on every call: the UI manager may come and go while the daemon runs.
    sp<android::IServiceManager> manager = android::defaultServiceManager();
    if (manager == nullptr) {
        return nullptr;
    }
    return android::IUIManager::asInterface(manager->getService(android::IUIManager::kServiceName));
}

void CastController::ClearNowPlaying() {
    std::lock_guard<std::mutex> lock(mNowPlayingMutex);
    mNowPlaying = NowPlayingInfo();
}
