// The receiver's own record of the consent settings, fetched once per start from its local
// setup service and copied into the settings store where it differs.
#include <curl/curl.h>
#include <json/json.h>
#include <syslog.h>

#include <memory>
#include <string>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    if (user != nullptr) {
        static_cast<std::string*>(user)->append(data, size * count);
    }
    return size * count;
}

// Reads member as a boolean; a value of another type is no answer, and leaves the setting
// it stands for as it is (false).
bool ReadFlag(const Json::Value& root, const char* member, bool& flag) {
    const Json::Value& value = root[member];
    if (value.isNull()) {
        flag = false;
        return true;
    }
    if (!value.isBool()) {
        orvix::Log(LOG_ERR,
                   "castcontroller: ReadEurekaInfoCurl() member %s is not a boolean, setting "
                   "left as it is",
                   member);
        return false;
    }
    flag = value.asBool();
    return true;
}

void CopySetting(const char* key, const char* logFormat, bool flag) {
    std::string stored;
    GetEnvItemByName(key, stored);
    std::string fetched = flag ? "true" : "false";
    orvix::Log(LOG_INFO, logFormat, "ReadEurekaInfoCurl", stored.c_str(), fetched.c_str());
    if (stored != fetched) {
        SetEnvItemByName(key, fetched);
    }
}

}  // namespace

void CastController::ReadEurekaInfoCurl() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered ++", __func__);
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to initialize the cURL!", __func__);
        curl_global_cleanup();
        return;
    }

    std::string body;
    for (;;) {
        curl_easy_setopt(curl, CURLOPT_URL, kEurekaInfoUrl.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        // This process has many threads: libcurl must not use signals for its timeouts.
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        if (curl_easy_perform(curl) == CURLE_OK) {
            break;
        }
        android::SleepUs(500000);
    }

    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (reader) {
        Json::Value root(Json::objectValue);
        std::string error;
        bool parsed;
        try {
            parsed = reader->parse(body.data(), body.data() + body.size(), &root, &error);
        } catch (const std::exception& e) {
            parsed = false;
            error = e.what();
        }
        if (!parsed || !root.isObject()) {
            orvix::Log(LOG_ERR,
                       "castcontroller: %s() Failed to parse the cast eureka info json object! "
                       "error:%s",
                       __func__, parsed ? "" : error.c_str());
        } else {
            bool crash = false;
            bool crashKnown = !root.isMember("opt_in") || ReadFlag(root, "crash", crash);
            bool tos = false;
            if (ReadFlag(root, "tos_accepted", tos)) {
                CopySetting(kGoogleCastTOS,
                            "castcontroller: %s() ENV ToS value: %s and cURL result:%s", tos);
            }
            if (crashKnown) {
                CopySetting(kGoogleCastUsageReport,
                            "castcontroller: %s() ENV crash value: %s and cURL result:%s", crash);
            }
        }
    }
    curl_easy_cleanup(curl);
    curl_global_cleanup();
}
