// The device's output delay for synchronised multi-room playback, handed to the receiver.
#include <syslog.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "core/CastController.h"
#include "core/Log.h"
#include "core/Messages.h"

namespace {

// strtod's reading of the text, failing as std::stod does ("stod") when nothing converts or
// the magnitude is out of range. Infinity and NaN, which strtod also accepts, are no delay a
// receiver can take: they fail like a range error.
double ParseDelay(const std::string& text) {
    double value = std::stod(text);
    if (!std::isfinite(value)) {
        throw std::out_of_range("stod");
    }
    return value;
}

// Truncation toward zero, saturated so that finite values beyond int64 stay defined.
int64_t ToMicroseconds(double value) {
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(value);
}

}  // namespace

void CastController::HandleMultiZoneDelay(const android::sp<android::AMessage>& msg) {
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (control == nullptr) {
        return;
    }
    android::AString field;
    msg->findString(kKeyMultizoneDelay, &field);
    std::string text(field.c_str());

    double delay = 0.0;
    try {
        delay = ParseDelay(text);
        // Small values are milliseconds; larger ones already are microseconds.
        if (delay >= -1000.0 && delay <= 1000.0) {
            delay *= 1000.0;
        }
        orvix::Log(LOG_NOTICE, "castcontroller: %s() Multizone delay:%lld micro sec", __func__,
                   static_cast<long long>(ToMicroseconds(delay)));
    } catch (const std::exception& e) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Exception caught! -> %s", __func__, e.what());
        delay = 0.0;
    } catch (...) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Caught an unknown exception!", __func__);
        delay = 0.0;
    }

    int32_t result = control->SetMultizoneDelay(ToMicroseconds(delay));
    mMultizoneRequestId = result;
    if (result == -1) {
        android::sp<android::AMessage> retry = newMessage(kWhatMultizoneDelay);
        retry->setString(kKeyMultizoneDelay, text.c_str(), static_cast<ssize_t>(text.size()));
        retry->post(1000000);
    }
    orvix::Log(LOG_NOTICE,
               "castcontroller: %s() Multizone delay:%lf, Request ID:%d, Successful ?: %s",
               __func__, delay, result, result != -1 ? "YES!" : "NO");
}
