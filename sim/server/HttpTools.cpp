#include "sim/server/HttpTools.h"

#include <event2/buffer.h>

namespace orvix::sim {

void Reply(evhttp_request* req, int status, const char* type, const std::string& body) {
    evhttp_add_header(evhttp_request_get_output_headers(req), "Content-Type", type);
    evbuffer_add(evhttp_request_get_output_buffer(req), body.data(), body.size());
    evhttp_send_reply(req, status, nullptr, nullptr);
}

void HeldRequests::hold(evhttp_request* req) {
    mEntries.push_back(Entry{this, req});
    evhttp_connection_set_closecb(evhttp_request_get_connection(req), OnClose, &mEntries.back());
}

std::vector<evhttp_request*> HeldRequests::release() {
    std::vector<evhttp_request*> reqs = all();
    for (evhttp_request* req : reqs) {
        evhttp_connection_set_closecb(evhttp_request_get_connection(req), nullptr, nullptr);
    }
    mEntries.clear();
    return reqs;
}

std::vector<evhttp_request*> HeldRequests::all() const {
    std::vector<evhttp_request*> reqs;
    for (const Entry& e : mEntries) reqs.push_back(e.req);
    return reqs;
}

void HeldRequests::drop(evhttp_request* req) {
    // Freeing the connection frees the request and runs OnClose, which forgets it.
    evhttp_connection_free(evhttp_request_get_connection(req));
}

void HeldRequests::OnClose(evhttp_connection*, void* arg) {
    auto* entry = static_cast<Entry*>(arg);
    // A connection that failed under a request the server still holds leaves the request to
    // it; one freed on purpose takes the request along.
    if (evhttp_request_get_connection(entry->req) == nullptr) evhttp_request_free(entry->req);
    std::list<Entry>& entries = entry->owner->mEntries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (&*it == entry) {
            entries.erase(it);
            break;
        }
    }
}

}  // namespace orvix::sim
