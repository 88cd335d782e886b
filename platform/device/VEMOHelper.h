// The device message bus client. Messages are text payloads identified by a message id (MID).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/android/RefBase.h"
#include "platform/android/Vector.h"

namespace android {

// A bus listener. The bus calls it on a thread of its own.
class IVemoAlerts : public virtual RefBase {
public:
    // A message arrived on a registered MID; its payload is read with readRemoteMessage.
    virtual void MessageBoxAlert(int32_t mid) = 0;
    // The bus connection was lost or regained.
    virtual void MessageBoxStatus(int32_t status) = 0;
};

class VEMOHelper {
public:
    VEMOHelper();
    ~VEMOHelper();

    // True once the bus is reachable.
    bool verifyConnection_l();
    int32_t registerListener(const sp<IVemoAlerts>& listener, const Vector<int32_t>& mids);
    int32_t unregisterListener(const sp<IVemoAlerts>& listener, const Vector<int32_t>& mids);
    // Fills payload with the current payload of mid; 0 on success.
    int32_t readRemoteMessage(int32_t mid, std::string& payload);
    // Sends payload on mid to the bus's remote clients; 0 on success.
    int32_t writeRemoteMessage(int32_t mid, const std::string& payload, int32_t flags);
    // Sends payload on mid to the local listeners on the device; 0 on success.
    int32_t writeLocalMessage(int32_t mid, const std::string& payload);

    struct Impl;

private:
    VEMOHelper(const VEMOHelper&) = delete;
    VEMOHelper& operator=(const VEMOHelper&) = delete;
    std::unique_ptr<Impl> mImpl;
};

}  // namespace android
