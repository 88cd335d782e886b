// Cast's identity towards the source-switch service and the receiver of its notifications.
#pragma once

#include "platform/DeviceServices.h"
#include "platform/Foundation.h"

class CastController;

class CastSourceSwitchListener : public android::BnSourceSwitchListener {
public:
    explicit CastSourceSwitchListener(const android::sp<CastController>& controller);
    ~CastSourceSwitchListener() override;

    // Installs the daemon's callbacks into the cast library and the resource slots.
    void RegisterWithCastCli();

    // Binder pool threads.
    void OnSourceSwitchEvent() override;
    void OnPlayControlEvent(const char* event) override;
    void OnVolumeChangeEvent(const char* volume) override;

    // The release procedure behind releaseResourceCallback; runs on a release worker.
    void ReleaseResources(bool switched);

private:
    android::sp<CastController> mController;
};
