// Client requests on the bus: intake, routing and the GET reply.
#include <json/json.h>
#include <syslog.h>

#include <memory>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/JsonReader.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "requests/JsonText.h"

void CastController::HandleClientRequest(const android::sp<android::AMessage>& msg) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered", __func__);
    android::AString field;
    if (!msg->findString(kKeyMessageData, &field) || field.empty()) {
        return;
    }
    // The payload travels as a C string: it ends at its first NUL.
    std::string text(field.c_str());

    Json::Value root;
    std::string error;
    const bool parsed = orvix::ParseJson(text, &root, &error);
    if (!parsed || !root.isObject()) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Invalid json object to parse! Error:%s", __func__,
                   parsed ? "" : error.c_str());
        return;
    }
    if (!root.isMember("request_type")) {
        orvix::Log(LOG_ERR,
                   "castcontroller: %s() json data hasn't contain request type key member!",
                   __func__);
        return;
    }
    // A member that should be text but holds an array or an object has no text form: such a
    // request is malformed and dropped like any other, with the parse error line and no reply.
    // A SET while the cast control is missing is still answered -5, since that answer comes
    // before any member is read.
    try {
        std::string type = root["request_type"].asString();
        if (type == "get") {
            HandleClientGetRequest(root);
        } else if (type == "set") {
            HandleClientSetRequest(root);
        } else {
            orvix::Log(LOG_ERR,
                       "castcontroller: %s() Request type unspecified can't handle request!",
                       __func__);
        }
    } catch (const std::exception& e) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Invalid json object to parse! Error:%s", __func__,
                   e.what());
    }
}

void CastController::HandleClientGetRequest(const Json::Value& request) {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered", __func__);
    if (!request.isMember(kJsonId) || !request.isMember(kJsonDeviceUuid)) {
        orvix::Log(LOG_INFO, "castcontroller: %s() insufficient json data in the GET request",
                   __func__);
        return;
    }
    std::string deviceUuid = request[kJsonDeviceUuid].asString();
    std::string usageReport;
    std::string tos;
    GetEnvItemByName(kGoogleCastUsageReport, usageReport);
    GetEnvItemByName(kGoogleCastTOS, tos);

    Json::Value reply(Json::objectValue);
    reply[kJsonId] = "status";
    reply[kJsonDeviceUuid] = deviceUuid;
    reply[kJsonTos] = tos == "true" ? "activated" : "not_activated";
    reply[kJsonCrashReport] = usageReport == "true";
    reply[kJsonStatus] = "success";
    std::string text = orvix::CompactJson(reply);
    orvix::Log(LOG_NOTICE, "castcontroller: %s() response to cast client GET request is %s",
               __func__, text.c_str());
    WriteBus(kMidClientReply, text);
}
