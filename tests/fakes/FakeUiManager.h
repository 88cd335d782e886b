// The UI manager service as a local binder over the UI model, and the service manager that
// hands it out while the model says the UI is up.
#pragma once

#include "platform/device/UIManager.h"

namespace orvix::fakes {

class FakeUiManager : public android::BnInterface<android::IUIManager> {
public:
    // Records a "metadata" update with msg's entries in order; DEAD_OBJECT while the UI is
    // down.
    android::status_t UpdateMetadata(const android::sp<android::AMessage>& msg) override;
    // Records a "clear" update (with msg's entries, normally none).
    android::status_t UpdateSourceRelease(const android::sp<android::AMessage>& msg) override;
};

}  // namespace orvix::fakes
