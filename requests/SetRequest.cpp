// Client SET requests: vetted, forwarded to the receiver and kept until it answers.
#include <json/json.h>
#include <syslog.h>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "requests/ResultCodes.h"

void CastController::HandleClientSetRequest(const Json::Value& request) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered", __func__);
    ClientSetRequest record;
    std::string reply;
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (control == nullptr) {
        HandleClientResponsejson(kResultCastUnreachable, reply, record, kNoRequestId);
        return;
    }
    for (const std::string* key : {&kJsonId, &kJsonAction, &kJsonDeviceUuid, &kJsonUserIp}) {
        if (!request.isMember(*key)) {
            orvix::Log(LOG_INFO, "castcontroller: %s() insufficient data to handle SET request",
                       __func__);
            HandleClientResponsejson(kResultInsufficientData, reply, record, kNoRequestId);
            return;
        }
    }
    // These reads throw on an array or an object, and HandleClientRequest then drops the
    // request; keeping them ahead of every receiver call means a dropped request has asked
    // nothing of the receiver and left nothing in the table.
    record.id = request[kJsonId].asString();
    record.action = request[kJsonAction].asString();
    record.deviceUuid = request[kJsonDeviceUuid].asString();
    record.userIp = request[kJsonUserIp].asString();

    int32_t requestId;
    if (record.id == kJsonTos && record.action == "accepted") {
        std::string tos;
        GetEnvItemByName(kGoogleCastTOS, tos);
        if (tos == "true") {
            HandleClientResponsejson(kResultAlreadyUpdated, reply, record, kNoRequestId);
            return;
        }
        requestId = control->AcceptTos();
        if (requestId == -1) {
            HandleClientResponsejson(kResultRequestIdError, reply, record, kNoRequestId);
            return;
        }
        // The receiver learns the device's timezone with the terms of service as long as no
        // timezone request of this run has been taken.
        if (mTimezoneRequestId == -1) {
            std::string zone;
            GetEnvItemByName(kTimeZone, zone);
            if (!zone.empty()) {
                mTimezoneRequestId = control->SetTimezone(zone);
                if (mTimezoneRequestId != -1) {
                    mTimezone = zone;
                }
                orvix::Log(LOG_INFO,
                           "castcontroller: %s() Accept tos and Timezone:%s request sent to cast "
                           "tos                            timezone id:%d",
                           __func__, zone.c_str(), mTimezoneRequestId);
            }
        }
    } else if (record.id == kJsonCrashReport) {
        requestId = control->SetUsageReportOptIn(record.action == "accepted");
        if (requestId == -1) {
            HandleClientResponsejson(kResultRequestIdError, reply, record, kNoRequestId);
            return;
        }
        orvix::Log(LOG_INFO, "castcontroller: %s() usage report request sent to cast reqest id:%d",
                   __func__, requestId);
    } else {
        HandleClientResponsejson(kResultInvalidJson, reply, record, kNoRequestId);
        return;
    }
    mPendingRequests[requestId] = record;
}
