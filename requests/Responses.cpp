// The receiver's answers to client SET requests, and the SET reply document.
#include <json/json.h>
#include <syslog.h>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "requests/JsonText.h"
#include "requests/ResultCodes.h"

std::string CastController::ResultCodeToMessage(int32_t code) {
    switch (code) {
        case kResultSuccess:
            return "success!";
        case kResultRequestIdError:
            return "requestID error!";
        case kResultParsingFailed:
            return "parsing failed!";
        case kResultInsufficientData:
            return "insufficient data to handle request!";
        case kResultAlreadyUpdated:
            return "Configuration already updated!";
        case kResultCastUnreachable:
            return "Cast server unreachable try after 5 secs!";
        case kResultInvalidJson:
            return "Invalid json data!";
        default:
            return "Unknown error!";
    }
}

void CastController::HandleOnCastResponse(const android::sp<android::AMessage>& msg) {
    int32_t requestId = 0;
    int32_t code = 0;
    msg->findInt32(kKeyRequestId, &requestId);
    msg->findInt32(kKeyResultMsg, &code);
    auto pending = mPendingRequests.find(requestId);
    if (pending == mPendingRequests.end()) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Received request id is not in map!!", __func__);
        return;
    }
    pending->second.result = code;
    ClientSetRequest answered;
    answered.id = pending->second.id;
    answered.deviceUuid = pending->second.deviceUuid;
    answered.action = pending->second.action;
    std::string reply;
    HandleClientResponsejson(code, reply, answered, requestId);
    mPendingRequests.erase(requestId);
}

void CastController::HandleClientResponsejson(int32_t code, std::string& reply,
                                              const ClientSetRequest& request, int32_t requestId) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered, error:%d request id:%d", __func__, code,
               requestId);
    Json::Value document(Json::objectValue);
    if (code >= 0) {
        document[kJsonStatus] = "success";
        // Codes the table does not know read as an empty text.
        document[kJsonStatusMsg] = kCastErrorMessages[code];
        auto pending = mPendingRequests.find(requestId);
        if (pending != mPendingRequests.end()) {
            const ClientSetRequest& entry = pending->second;
            if (entry.id == kJsonTos) {
                SetEnvItemByName(kGoogleCastTOS, "true");
            } else {
                SetEnvItemByName(kGoogleCastUsageReport,
                                 entry.action == "accepted" ? "true" : "false");
            }
        }
    } else {
        document[kJsonStatus] = "failure";
        document[kJsonStatusMsg] = ResultCodeToMessage(code);
    }
    document[kJsonId] = request.id;
    document[kJsonDeviceUuid] = request.deviceUuid;
    document[kJsonAction] = request.action;
    reply = orvix::CompactJson(document);
    orvix::Log(LOG_NOTICE, "castcontroller: %s() response for cast client SET request is %s",
               __func__, reply.c_str());
    WriteBus(kMidClientReply, reply);
}
