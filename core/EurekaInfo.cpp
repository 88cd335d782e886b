// The receiver's own record of the consent settings, fetched once per start from its local
// setup service and copied into the settings store where it differs.
#include "core/EurekaInfo.h"

#include <curl/curl.h>
#include <json/json.h>
#include <syslog.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/JsonReader.h"
#include "core/Log.h"

namespace {

// Runs inside libcurl, which is C: nothing may be thrown through it. A body that cannot be
// stored fails the transfer, and the attempt is made again.
size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    if (user != nullptr) {
        try {
            static_cast<std::string*>(user)->append(data, size * count);
        } catch (...) {
            return 0;
        }
    }
    return size * count;
}

// Before 7.84 libcurl cannot say whether its global set-up is thread-safe, so it is not.
bool CurlGlobalIsThreadSafe() {
#ifdef CURL_VERSION_THREADSAFE
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && (info->features & CURL_VERSION_THREADSAFE) != 0;
#else
    return false;
#endif
}

// curl_global_init and curl_global_cleanup count their calls and set up the libraries below
// libcurl; beside other threads that is safe only when libcurl says it is. Nothing else in
// this process uses libcurl or those libraries, so where libcurl does not say so, the two calls
// are made under one lock, which keeps a second fetch from racing the count.
std::mutex gCurlGlobalMutex;

void CurlGlobalInit() {
    if (CurlGlobalIsThreadSafe()) {
        curl_global_init(CURL_GLOBAL_ALL);
        return;
    }
    std::lock_guard<std::mutex> lock(gCurlGlobalMutex);
    curl_global_init(CURL_GLOBAL_ALL);
}

void CurlGlobalCleanup() {
    if (CurlGlobalIsThreadSafe()) {
        curl_global_cleanup();
        return;
    }
    std::lock_guard<std::mutex> lock(gCurlGlobalMutex);
    curl_global_cleanup();
}

// Reads member the way jsoncpp's asBool would (null false, numbers by zero or not). Text, an
// array or an object says nothing about the user's consent: rather than guess, the setting is
// left as it is (false is returned, and the caller copies nothing).
bool ReadFlag(const Json::Value& root, const char* member, bool& flag) {
    const Json::Value& value = root[member];
    switch (value.type()) {
        case Json::nullValue:
        case Json::booleanValue:
        case Json::intValue:
        case Json::uintValue:
        case Json::realValue:
            flag = value.asBool();
            return true;
        default:
            orvix::Log(LOG_ERR, "castcontroller: %s() %s is not a boolean! setting left as it is",
                       "ReadEurekaInfoCurl", member);
            return false;
    }
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

// The transfer, retried every half second until one completes, and the copy of its answer.
void FetchAndCopyEurekaInfo(CURL* curl) {
    std::string body;
    for (;;) {
        // A failed attempt can have delivered part of a body; the next one starts afresh.
        body.clear();
        curl_easy_setopt(curl, CURLOPT_URL, kEurekaInfoUrl.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        // This process has many threads: libcurl must not use signals (alarms for its name
        // look-ups). Its own writes use MSG_NOSIGNAL, so no SIGPIPE either.
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        if (curl_easy_perform(curl) == CURLE_OK) {
            break;
        }
        android::SleepUs(500000);
    }

    ApplyEurekaInfo(body);
}

}  // namespace

void ApplyEurekaInfo(const std::string& body) {
    Json::Value root(Json::objectValue);
    std::string error;
    const bool parsed = orvix::ParseJson(body, &root, &error);
    if (!parsed || !root.isObject()) {
        orvix::Log(LOG_ERR,
                   "castcontroller: %s() Failed to parse the cast eureka info json object! "
                   "error:%s",
                   "ReadEurekaInfoCurl", parsed ? "" : error.c_str());
        return;
    }
    bool crash = false;
    bool crashKnown = !root.isMember("opt_in") || ReadFlag(root, "crash", crash);
    bool tos = false;
    if (ReadFlag(root, "tos_accepted", tos)) {
        CopySetting(kGoogleCastTOS, "castcontroller: %s() ENV ToS value: %s and cURL result:%s",
                    tos);
    }
    if (crashKnown) {
        CopySetting(kGoogleCastUsageReport,
                    "castcontroller: %s() ENV crash value: %s and cURL result:%s", crash);
    }
}

// Runs on the setup-information thread; it touches no field of the controller, only the
// settings store, which is safe beside the looper's use of it.
void CastController::ReadEurekaInfoCurl() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Entered ++", __func__);
    CurlGlobalInit();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to initialize the cURL!", __func__);
        CurlGlobalCleanup();
        return;
    }
    // This is the body of a thread of its own: whatever goes wrong must end here.
    try {
        FetchAndCopyEurekaInfo(curl);
    } catch (const std::exception& e) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Exception caught! -> %s", __func__, e.what());
    } catch (...) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Caught an unknown exception!", __func__);
    }
    curl_easy_cleanup(curl);
    CurlGlobalCleanup();
}
