// The message-bus client: one device connection per instance. Alerts carry the payload that
// was written, and readRemoteMessage hands that payload out while the alert is being
// delivered, so a burst of writes to one MID is seen message by message.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/device/VEMOHelper.h"
#include "platform/host/Connection.h"
#include "platform/host/DeviceLink.h"

namespace android {

namespace {

// The alert being delivered on this thread (a dispatcher thread), if any.
struct AlertContext {
    const VEMOHelper::Impl* owner;
    int32_t mid;
    const std::string* payload;
};
thread_local const AlertContext* tAlert = nullptr;

bool Contains(const std::vector<int32_t>& mids, int32_t mid) {
    return std::find(mids.begin(), mids.end(), mid) != mids.end();
}

void AddMissing(std::vector<int32_t>* into, const std::vector<int32_t>& mids) {
    for (int32_t mid : mids) {
        if (!Contains(*into, mid)) into->push_back(mid);
    }
}

Json::Value MidList(const std::vector<int32_t>& mids) {
    Json::Value list(Json::arrayValue);
    for (int32_t mid : mids) list.append(mid);
    return list;
}

}  // namespace

struct VEMOHelper::Impl {
    Impl()
        : connection(
              orvix::host::DeviceSocketPath(),
              [this](const std::string& name, const Json::Value& frame) {
                  return onEvent(name, frame);
              },
              [this](bool up) { onLink(up); }) {
        connection.start();
    }

    bool sendMids(const char* op, const std::vector<int32_t>& mids) {
        Json::Value args(Json::objectValue);
        args["mids"] = MidList(mids);
        return connection.call(op, args);
    }

    int32_t write(int32_t mid, const std::string& payload, const char* scope, int32_t flags) {
        Json::Value args(Json::objectValue);
        args["mid"] = mid;
        args["payload"] = payload;
        args["scope"] = scope;
        args["flags"] = flags;
        Json::Value result;
        if (!connection.call("bus.write", args, &result)) return -1;
        return result.isInt() ? result.asInt() : 0;
    }

    // Every registered MID once, in the order it was first registered, so that a new
    // connection registers them as the first one did.
    std::vector<int32_t> allMids() {
        std::vector<int32_t> mids;
        std::lock_guard<std::mutex> lock(mLock);
        for (const Registration& r : mRegistrations) AddMissing(&mids, r.mids);
        return mids;
    }

    std::vector<sp<IVemoAlerts>> listeners(const int32_t* mid) {
        std::vector<sp<IVemoAlerts>> out;
        std::lock_guard<std::mutex> lock(mLock);
        for (const Registration& r : mRegistrations) {
            if (mid == nullptr || Contains(r.mids, *mid)) out.push_back(r.listener);
        }
        return out;
    }

    // Dispatcher thread: a new socket has no registrations; tell the listeners either way.
    void onLink(bool up) {
        if (up) {
            const std::vector<int32_t> mids = allMids();
            if (!mids.empty()) sendMids("bus.register", mids);
        }
        for (const sp<IVemoAlerts>& listener : listeners(nullptr)) {
            listener->MessageBoxStatus(up ? 1 : 0);
        }
    }

    // Dispatcher thread.
    bool onEvent(const std::string& name, const Json::Value& frame) {
        if (name != "bus.alert") return true;
        const Json::Value& mid = frame["mid"];
        const Json::Value& payload = frame["payload"];
        if (!mid.isInt() || !payload.isString()) return false;
        const int32_t id = mid.asInt();
        const std::string text = payload.asString();
        const AlertContext context{this, id, &text};
        struct Scope {
            explicit Scope(const AlertContext* c) { tAlert = c; }
            ~Scope() { tAlert = nullptr; }
        } scope(&context);
        for (const sp<IVemoAlerts>& listener : listeners(&id)) listener->MessageBoxAlert(id);
        return true;
    }

    struct Registration {
        sp<IVemoAlerts> listener;
        std::vector<int32_t> mids;  // registration order, each once
    };

    // Guards mRegistrations.
    std::mutex mLock;
    std::vector<Registration> mRegistrations;
    // Last: its threads, which run the handlers above, stop before the members go.
    orvix::host::Connection connection;
};

VEMOHelper::VEMOHelper() : mImpl(std::make_unique<Impl>()) {}

VEMOHelper::~VEMOHelper() = default;

bool VEMOHelper::verifyConnection_l() {
    Json::Value up;
    return mImpl->connection.call("bus.verify", Json::Value(Json::objectValue), &up) &&
           up.isBool() && up.asBool();
}

int32_t VEMOHelper::registerListener(const sp<IVemoAlerts>& listener, const Vector<int32_t>& mids) {
    if (listener == nullptr) return -1;
    {
        // Kept even when the request fails: the next connection registers it.
        std::lock_guard<std::mutex> lock(mImpl->mLock);
        auto& regs = mImpl->mRegistrations;
        auto it = std::find_if(regs.begin(), regs.end(),
                               [&](const Impl::Registration& r) { return r.listener == listener; });
        if (it == regs.end()) it = regs.insert(regs.end(), Impl::Registration{listener, {}});
        AddMissing(&it->mids, std::vector<int32_t>(mids.begin(), mids.end()));
    }
    return mImpl->sendMids("bus.register", std::vector<int32_t>(mids.begin(), mids.end())) ? 0 : -1;
}

int32_t VEMOHelper::unregisterListener(const sp<IVemoAlerts>& listener,
                                       const Vector<int32_t>& mids) {
    {
        std::lock_guard<std::mutex> lock(mImpl->mLock);
        auto& regs = mImpl->mRegistrations;
        for (auto it = regs.begin(); it != regs.end(); ++it) {
            if (it->listener != listener) continue;
            for (int32_t mid : mids) {
                it->mids.erase(std::remove(it->mids.begin(), it->mids.end(), mid), it->mids.end());
            }
            if (it->mids.empty()) regs.erase(it);
            break;
        }
    }
    // Only the MIDs no other listener of this client still wants.
    const std::vector<int32_t> still = mImpl->allMids();
    std::vector<int32_t> gone;
    for (int32_t mid : mids) {
        if (!Contains(still, mid)) gone.push_back(mid);
    }
    if (gone.empty()) return 0;
    return mImpl->sendMids("bus.unregister", gone) ? 0 : -1;
}

int32_t VEMOHelper::readRemoteMessage(int32_t mid, std::string& payload) {
    if (tAlert != nullptr && tAlert->owner == mImpl.get() && tAlert->mid == mid) {
        payload = *tAlert->payload;
        return 0;
    }
    Json::Value args(Json::objectValue);
    args["mid"] = mid;
    Json::Value result;
    if (!mImpl->connection.call("bus.read", args, &result) || !result.isString()) return -1;
    payload = result.asString();
    return 0;
}

int32_t VEMOHelper::writeRemoteMessage(int32_t mid, const std::string& payload, int32_t flags) {
    return mImpl->write(mid, payload, "remote", flags);
}

int32_t VEMOHelper::writeLocalMessage(int32_t mid, const std::string& payload) {
    return mImpl->write(mid, payload, "local", 0);
}

}  // namespace android
