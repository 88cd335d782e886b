// The receiver's local setup service on libevent's evhttp: 127.0.0.1, GET /setup/eureka_info
// answered with the status and body the SetupService model holds, 404 for any other path, 405
// for other methods, every connection closed after its answer. Closing ("eureka down") frees
// the server, so connects fail at once and open connections are cut, as with a receiver that
// is not running. While the model hangs ("eureka hang") a request is held without an answer
// and without a deadline until the hang ends or its client gives up.
#pragma once

#include <event2/event.h>
#include <event2/http.h>

#include <cstdint>
#include <functional>
#include <string>

#include "sim/model/SetupService.h"
#include "sim/server/HttpTools.h"

namespace orvix::sim {

class SetupHttp {
public:
    static constexpr const char* kPath = "/setup/eureka_info";

    // recorded runs after a request went into the model's log.
    SetupHttp(event_base* base, model::SetupService& setup, uint16_t port,
              std::function<void()> recorded)
        : mBase(base), mSetup(setup), mPort(port), mRecorded(std::move(recorded)) {}
    ~SetupHttp() { close(); }
    SetupHttp(const SetupHttp&) = delete;
    SetupHttp& operator=(const SetupHttp&) = delete;

    // Starts listening (nothing to do when it already does).
    bool open(std::string* error);
    void close();
    // Answers the held requests once the hang has ended.
    void settle();

private:
    static void OnRequest(evhttp_request* req, void* self);

    event_base* const mBase;
    model::SetupService& mSetup;
    const uint16_t mPort;
    const std::function<void()> mRecorded;
    HeldRequests mHeld;
    evhttp* mHttp = nullptr;
};

}  // namespace orvix::sim
