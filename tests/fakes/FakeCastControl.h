// The fake cast library's control object: every operation goes through the receiver model
// (policy and record), and automatic responses go to the observer on the cast library
// thread. Made by chromecast::CastControl::Create.
#pragma once

#include <string>

#include "platform/cast/CastControl.h"
#include "sim/model/CastRecords.h"
#include "sim/model/Receiver.h"

namespace orvix::fakes {

class FakeCastControl : public chromecast::CastControl {
public:
    explicit FakeCastControl(Observer* observer);
    ~FakeCastControl() override;

    int32_t AcceptTos() override;
    int32_t SetDeviceName(const std::string& name) override;
    int32_t SetTimezone(const std::string& zone) override;
    int32_t SetUsageReportOptIn(bool optIn) override;
    int32_t SendPlayCommand(int32_t command) override;
    int32_t RequestCastStatus() override;
    int32_t SetMultizoneDelay(int64_t delayUs) override;
    void Suspend(int32_t reason) override;

    Observer* observer() const { return mObserver; }

    // Calls the observer with the library's records built from event (observer events only).
    static void DeliverToObserver(Observer* observer, const model::CastEvent& event);
    // Calls the callback variable for event (callback-variable events only), if it is set.
    static void DeliverToCallbackVariable(const model::CastEvent& event);
    // Puts every callback variable back to null.
    static void ResetCallbackVariables();

private:
    int32_t request(model::CastOp op, const Json::Value& args);

    // Not owned: the daemon owns its observer.
    Observer* const mObserver;
};

}  // namespace orvix::fakes
