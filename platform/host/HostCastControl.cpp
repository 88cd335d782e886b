// chromecast::CastControl as a client of the receiver's control socket. Every operation is
// one "cast.call" request whose integer result is returned; -1 when it could not be made.
#include <unistd.h>

#include <memory>

#include "platform/cast/CastControl.h"
#include "platform/host/ReceiverLink.h"

namespace chromecast {

namespace {

using orvix::host::ArgList;
using orvix::host::ReceiverLink;

class HostCastControl : public CastControl {
public:
    explicit HostCastControl(std::shared_ptr<ReceiverLink> link) : mLink(std::move(link)) {}
    // The link may live on as the current one; the observer is ours to detach.
    ~HostCastControl() override { mLink->setObserver(nullptr); }

    int32_t AcceptTos() override { return mLink->call("AcceptTos", ArgList()); }
    int32_t SetDeviceName(const std::string& name) override {
        return mLink->call("SetDeviceName", ArgList(name));
    }
    int32_t SetTimezone(const std::string& zone) override {
        return mLink->call("SetTimezone", ArgList(zone));
    }
    int32_t SetUsageReportOptIn(bool optIn) override {
        return mLink->call("SetUsageReportOptIn", ArgList(optIn));
    }
    int32_t SendPlayCommand(int32_t command) override {
        return mLink->call("SendPlayCommand", ArgList(command));
    }
    int32_t RequestCastStatus() override { return mLink->call("RequestCastStatus", ArgList()); }
    int32_t SetMultizoneDelay(int64_t delayUs) override {
        return mLink->call("SetMultizoneDelay", ArgList(Json::Int64(delayUs)));
    }
    void Suspend(int32_t reason) override { mLink->call("Suspend", ArgList(reason)); }

private:
    const std::shared_ptr<ReceiverLink> mLink;
};

}  // namespace

CastControl* CastControl::Create(const std::string& socketPath, Observer* observer) {
    if (::access(socketPath.c_str(), F_OK) != 0) return nullptr;
    std::shared_ptr<ReceiverLink> link = ReceiverLink::Open(socketPath);
    if (!link->connected()) return nullptr;
    link->setObserver(observer);
    if (!link->create()) return nullptr;
    ReceiverLink::MakeCurrent(link);
    return new HostCastControl(link);
}

}  // namespace chromecast
