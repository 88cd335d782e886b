#include "sim/server/SetupHttp.h"

#include <cstring>

namespace orvix::sim {

namespace {

// A client that neither finishes its request nor reads its answer in time is dropped.
constexpr int kConnectionSeconds = 5;
// A request larger than this is no client of ours.
constexpr size_t kMaxRequest = 16 * 1024;

}  // namespace

bool SetupHttp::open(std::string* error) {
    if (mHttp != nullptr) return true;
    mHttp = evhttp_new(mBase);
    evhttp_set_timeout(mHttp, kConnectionSeconds);
    evhttp_set_max_headers_size(mHttp, kMaxRequest);
    evhttp_set_max_body_size(mHttp, kMaxRequest);
    evhttp_set_gencb(mHttp, OnRequest, this);
    // evhttp sets SO_REUSEADDR: a restarted simulator gets the port back while old
    // connections linger.
    if (evhttp_bind_socket(mHttp, "127.0.0.1", mPort) != 0) {
        *error = "127.0.0.1:" + std::to_string(mPort) + ": cannot listen";
        close();
        return false;
    }
    return true;
}

void SetupHttp::close() {
    if (mHttp != nullptr) evhttp_free(mHttp);
    mHttp = nullptr;
}

void SetupHttp::settle() {
    if (mHeld.size() == 0) return;
    const model::SetupAnswer answer = mSetup.current();
    if (answer.hang) return;
    for (evhttp_request* req : mHeld.release()) Reply(req, answer.status, kJsonType, answer.body);
}

void SetupHttp::OnRequest(evhttp_request* req, void* self) {
    auto* http = static_cast<SetupHttp*>(self);
    evhttp_add_header(evhttp_request_get_output_headers(req), "Connection", "close");
    const char* path = evhttp_uri_get_path(evhttp_request_get_evhttp_uri(req));
    if (evhttp_request_get_command(req) != EVHTTP_REQ_GET) {
        return Reply(req, 405, kJsonType, "{\"error\":\"only GET\"}");
    }
    if (path == nullptr || std::strcmp(path, kPath) != 0) {
        return Reply(req, 404, kJsonType, "{\"error\":\"not found\"}");
    }
    const model::SetupAnswer answer = http->mSetup.answer(path);
    http->mRecorded();
    if (answer.hang) return http->mHeld.hold(req);
    Reply(req, answer.status, kJsonType, answer.body);
}

}  // namespace orvix::sim
