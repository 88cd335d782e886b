// The fake cast library's control object: every operation goes through the receiver model
// (policy and record), and automatic responses go to the observer on the cast library
// thread. Made by chromecast::CastControl::Create.
#pragma once

#include <string>

#include "platform/cast/CastControl.h"
#include "sim/model/CastRecords.h"
#include "sim/model/Receiver.h"

namespace orvix::fakes {

// The arguments of a call as the receiver model records them.
template <class... T>
Json::Value Args(T... values) {
    Json::Value args(Json::arrayValue);
    (args.append(Json::Value(values)), ...);
    return args;
}

class FakeCastControl : public chromecast::CastControl {
public:
    explicit FakeCastControl(Observer* observer);
    ~FakeCastControl() override;

    using Op = model::CastOp;
    // Any operation of the library: the receiver model's value, its automatic response (to a
    // request) queued for the observer.
    static int32_t Call(Op op, const Json::Value& args = Args());

    int32_t AcceptTos() override { return Call(Op::AcceptTos); }
    int32_t SetDeviceName(const std::string& name) override {
        return Call(Op::SetDeviceName, Args(name));
    }
    int32_t SetTimezone(const std::string& zone) override {
        return Call(Op::SetTimezone, Args(zone));
    }
    int32_t SetUsageReportOptIn(bool on) override {
        return Call(Op::SetUsageReportOptIn, Args(on));
    }
    int32_t SendPlayCommand(int32_t command) override {
        return Call(Op::SendPlayCommand, Args(command));
    }
    int32_t RequestCastStatus() override { return Call(Op::RequestCastStatus); }
    int32_t SetMultizoneDelay(int64_t us) override {
        return Call(Op::SetMultizoneDelay, Args(Json::Int64(us)));
    }
    void Suspend(int32_t reason) override { Call(Op::Suspend, Args(reason)); }

    Observer* observer() const { return mObserver; }

    // Calls the observer with the library's records built from event (observer events only).
    static void DeliverToObserver(Observer* observer, const model::CastEvent& event);
    // Calls the callback variable for event (callback-variable events only), if it is set.
    static void DeliverToCallbackVariable(const model::CastEvent& event);
    // Puts every callback variable back to null.
    static void ResetCallbackVariables();

private:
    // Not owned: the daemon owns its observer.
    Observer* const mObserver;
};

}  // namespace orvix::fakes
