// What the simulator's two HTTP services (the setup service and the front panel) share on top
// of libevent's evhttp.
#pragma once

#include <event2/http.h>

#include <list>
#include <string>
#include <vector>

namespace orvix::sim {

constexpr const char* kJsonType = "application/json";

// Sends a whole reply with body and content type.
void Reply(evhttp_request* req, int status, const char* type, const std::string& body);

// Requests the server keeps open: unanswered ones (a hanging setup service) or streams (the
// panel's events). One whose connection closes leaves the set by itself.
class HeldRequests {
public:
    HeldRequests() = default;
    HeldRequests(const HeldRequests&) = delete;
    HeldRequests& operator=(const HeldRequests&) = delete;

    void hold(evhttp_request* req);
    // Every request, out of the set, to be answered.
    std::vector<evhttp_request*> release();
    std::vector<evhttp_request*> all() const;
    // Cuts the request's connection.
    void drop(evhttp_request* req);
    size_t size() const { return mEntries.size(); }

private:
    struct Entry {
        HeldRequests* owner;
        evhttp_request* req;
    };
    static void OnClose(evhttp_connection* conn, void* entry);

    std::list<Entry> mEntries;
};

}  // namespace orvix::sim
