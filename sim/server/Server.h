// The orvixsim process: one thread and one libevent event base serving the device socket, the
// cast control socket, the control socket, the setup service's HTTP port, the front panel and
// (with --syslog) /dev/log, all over one model World. Nothing a client sends can block the
// loop: replies wait in per-connection buffers, and a client that sends something other than
// frames of JSON objects is disconnected.
#pragma once

#include <event2/event.h>
#include <event2/listener.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/model/World.h"
#include "sim/server/CliCommands.h"
#include "sim/server/Operations.h"
#include "sim/server/Panel.h"
#include "sim/server/Peer.h"
#include "sim/server/Router.h"
#include "sim/server/SetupHttp.h"
#include "sim/server/Sockets.h"

namespace orvix::sim {

struct ServerOptions {
    std::string runDir;    // device.sock, control.sock and panel.sock
    std::string stateDir;  // settings.json
    std::string castSocket = "/tmp/cast-control";
    bool syslog = false;
    std::string syslogPath = "/dev/log";
    uint16_t httpPort = 8008;
    uint16_t panelPort = 8090;
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
    // Serves until SIGTERM, SIGINT or SIGHUP. The sockets are removed when the server goes.
    void serve();

    // Router
    void deliverAlerts(const std::vector<model::BusAlert>& alerts) override;
    bool deliverSource(const model::SourceNotification& notification) override;
    bool hasCastControl() const override;
    void deliverCast(const model::CastEvent& event) override;
    bool setReceiverListening(bool listening, std::string* error) override;
    bool setSetupListening(bool listening, std::string* error) override;
    Json::Value panelAddress() const override { return mPanel.address(); }

private:
    struct EventFree {
        void operator()(event* e) const { event_free(e); }
        void operator()(evconnlistener* l) const { evconnlistener_free(l); }
        void operator()(event_base* b) const { event_base_free(b); }
    };
    struct Listener {
        std::unique_ptr<evconnlistener, EventFree> listener;
        Peer::Kind kind = Peer::Kind::Device;
        std::unique_ptr<OwnedPath> path;
    };

    // Listens at path; the socket file is removed again at exit.
    bool listen(const std::string& path, Peer::Kind kind, std::string* error);
    void activity(Peer* peer);
    void handleFrame(Peer* peer, const Json::Value& frame);
    void handleControl(Peer* peer, const Json::Value& id, const Json::Value& args);
    // Runs CLI commands one after the other, stopping at the first that fails.
    void handleBatch(Peer* peer, const Json::Value& id, const Json::Value& args);
    bool runCli(const std::vector<std::string>& argv, CliOutput* out);
    void drainSyslog();
    // After whatever ran this turn: the dead peers go, the panel hears of changes.
    void endOfTurn();
    void wake();
    Peer* latest(uint64_t Peer::*order) const;

    const ServerOptions mOptions;
    model::World mWorld;
    std::unique_ptr<event_base, EventFree> mBase;
    DeviceOps mDeviceOps;
    ReceiverOps mReceiverOps;
    CliCommands mCli;
    SetupHttp mHttp;
    Panel mPanel;
    std::vector<Listener> mListeners;
    std::vector<std::unique_ptr<Peer>> mPeers;
    std::vector<std::unique_ptr<event, EventFree>> mEvents;  // signals and the syslog socket
    std::unique_ptr<event, EventFree> mEndOfTurn;
    std::vector<std::unique_ptr<OwnedPath>> mOwnedPaths;
    int mSyslogFd = -1;
    uint64_t mLastPeer = 0;
};

}  // namespace orvix::sim
