// The orvixsim process: one thread and one poll loop serving the device socket, the cast
// control socket, the control socket, the setup service's HTTP port and (with --syslog)
// /dev/log, all over one model World. Nothing a client sends can block the loop: every
// socket is non-blocking, replies wait in per-connection buffers, and a client that sends
// something other than frames of JSON objects is disconnected.
#pragma once

#include <signal.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/model/World.h"
#include "sim/server/CliCommands.h"
#include "sim/server/Operations.h"
#include "sim/server/Peer.h"
#include "sim/server/Router.h"
#include "sim/server/SetupHttp.h"
#include "sim/server/Sockets.h"
#include "sim/server/SyslogSocket.h"

namespace orvix::sim {

struct ServerOptions {
    std::string runDir;    // device.sock and control.sock
    std::string stateDir;  // settings.json
    std::string castSocket = "/tmp/cast-control";
    bool syslog = false;
    std::string syslogPath = "/dev/log";
    uint16_t httpPort = 8008;
};

// $ORVIXSIM_DIR, or /tmp/orvixsim.
std::string RunDirFromEnvironment();

class Server : public Router {
public:
    explicit Server(ServerOptions options);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Loads the settings and opens every socket; false with the reason.
    bool start(std::string* error);
    // Serves until SIGTERM or SIGINT. The sockets are removed when the server is destroyed.
    void serve();

    // Router
    void deliverAlerts(const std::vector<model::BusAlert>& alerts) override;
    bool deliverSource(const model::SourceNotification& notification) override;
    bool hasCastControl() const override;
    void deliverCast(const model::CastEvent& event) override;
    bool setReceiverListening(bool listening, std::string* error) override;
    bool setSetupListening(bool listening, std::string* error) override;

private:
    struct Listener {
        int fd = -1;
        Peer::Kind kind = Peer::Kind::Device;
    };

    // Listens at path; the socket file is removed again at exit.
    bool listen(const std::string& path, Peer::Kind kind, std::string* error);
    bool listening(int fd) const;
    void accept(const Listener& listener);
    void readFrom(Peer* peer);
    void handleFrame(Peer* peer, const Json::Value& frame);
    void handleControl(Peer* peer, const Json::Value& id, const Json::Value& args);
    // Runs CLI commands one after the other, stopping at the first that fails.
    void handleBatch(Peer* peer, const Json::Value& id, const Json::Value& args);
    void reap();
    Peer* latest(uint64_t Peer::*order) const;

    const ServerOptions mOptions;
    model::World mWorld;
    DeviceOps mDeviceOps;
    ReceiverOps mReceiverOps;
    CliCommands mCli;
    SetupHttp mHttp;
    SyslogSocket mSyslog;
    std::vector<Listener> mListeners;
    std::vector<std::unique_ptr<OwnedPath>> mOwnedPaths;
    // Apart from the others: "cast socket down" removes it while the server runs.
    std::unique_ptr<OwnedPath> mCastPath;
    std::vector<std::unique_ptr<Peer>> mPeers;
    uint64_t mLastPeer = 0;
    // SIGTERM, SIGINT and SIGHUP write into this pipe; the loop stops when it is readable.
    int mStopRead = -1;
    int mStopWrite = -1;
    std::array<struct sigaction, 3> mOldActions{};
    bool mStopping = false;
};

}  // namespace orvix::sim
