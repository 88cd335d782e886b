// The message-bus client over the bus model: each VEMOHelper is one bus client.
#include "platform/device/VEMOHelper.h"
#include "tests/fakes/FakeWorld.h"

namespace android {

struct VEMOHelper::Impl {
    std::string id;
};

using orvix::fakes::Fakes;

VEMOHelper::VEMOHelper() : mImpl(new Impl{Fakes().world().bus().newClientId()}) {}

VEMOHelper::~VEMOHelper() {
    Fakes().removeBusClient(mImpl->id);
}

bool VEMOHelper::verifyConnection_l() {
    return Fakes().world().bus().reachable();
}

int32_t VEMOHelper::registerListener(const sp<IVemoAlerts>& listener, const Vector<int32_t>& mids) {
    if (listener == nullptr) return BAD_VALUE;
    // The listener is known before the bus can pick it for an alert.
    Fakes().setBusListener(mImpl->id, listener);
    if (!Fakes().world().bus().registerListener(mImpl->id, {mids.begin(), mids.end()})) {
        if (Fakes().world().bus().midsOf(mImpl->id).empty()) {
            Fakes().setBusListener(mImpl->id, nullptr);
        }
        return DEAD_OBJECT;
    }
    return OK;
}

int32_t VEMOHelper::unregisterListener(const sp<IVemoAlerts>& listener,
                                       const Vector<int32_t>& mids) {
    if (listener == nullptr) return BAD_VALUE;
    Fakes().world().bus().unregisterListener(mImpl->id, {mids.begin(), mids.end()});
    if (Fakes().world().bus().midsOf(mImpl->id).empty()) Fakes().setBusListener(mImpl->id, nullptr);
    return OK;
}

int32_t VEMOHelper::readRemoteMessage(int32_t mid, std::string& payload) {
    if (orvix::fakes::FakeWorld::alertSnapshot(mid, &payload)) return OK;
    return Fakes().world().bus().read(mid, &payload) ? OK : DEAD_OBJECT;
}

int32_t VEMOHelper::writeRemoteMessage(int32_t mid, const std::string& payload, int32_t flags) {
    (void)flags;
    return Fakes().busWrite(mImpl->id, orvix::model::Origin::Daemon, orvix::model::Scope::Remote,
                            mid, payload)
               ? OK
               : DEAD_OBJECT;
}

int32_t VEMOHelper::writeLocalMessage(int32_t mid, const std::string& payload) {
    return Fakes().busWrite(mImpl->id, orvix::model::Origin::Daemon, orvix::model::Scope::Local,
                            mid, payload)
               ? OK
               : DEAD_OBJECT;
}

}  // namespace android
