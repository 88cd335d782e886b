// The receiver's local setup service: a minimal HTTP/1.1 server on the loopback interface
// that answers GET /setup/eureka_info with the status and body the SetupService model holds,
// 404 for any other path, and closes every connection after one answer. Closing the
// listening socket ("eureka down") makes connects fail at once, as a receiver that is not
// running would. While the model hangs ("eureka hang") a request is read and held without an
// answer and without a deadline; it is answered once the hang ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/model/SetupService.h"
#include "sim/server/PollSet.h"

namespace orvix::sim {

class SetupHttp {
public:
    static constexpr const char* kPath = "/setup/eureka_info";

    SetupHttp(model::SetupService& setup, uint16_t port) : mSetup(setup), mPort(port) {}
    ~SetupHttp();
    SetupHttp(const SetupHttp&) = delete;
    SetupHttp& operator=(const SetupHttp&) = delete;

    // Starts listening (nothing to do when it already does).
    bool open(std::string* error);
    // Stops listening and cuts the open connections.
    void close();

    void addTo(PollSet* set);
    // Answers held requests once the hang has ended, closes finished connections and those
    // past their deadline. Runs between poll rounds.
    void reap(std::chrono::steady_clock::time_point now);

private:
    struct Conn {
        int fd = -1;
        std::string in;
        std::string out;
        size_t sent = 0;
        bool answered = false;
        // Read and recorded while the service hangs; waits for the hang to end.
        bool held = false;
        bool dead = false;
        std::chrono::steady_clock::time_point deadline;
    };

    void accept();
    void readFrom(Conn* conn);
    void answer(Conn* conn);
    void respond(Conn* conn, const std::string& response);
    // A held connection: nothing more is wanted from the client, but its leaving is noticed.
    void drain(Conn* conn);
    void writeTo(Conn* conn);

    model::SetupService& mSetup;
    const uint16_t mPort;
    int mListenFd = -1;
    std::vector<std::unique_ptr<Conn>> mConns;
};

}  // namespace orvix::sim
