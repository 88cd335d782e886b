#include "sim/server/Server.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sim/server/WireEvents.h"

namespace orvix::sim {

namespace {

// Bounds one turn, so a process logging without pause cannot keep the server from the rest.
constexpr int kDatagramsPerTurn = 256;

Json::Value ErrorReply(const Json::Value& id, const std::string& error) {
    Json::Value reply(Json::objectValue);
    reply["id"] = id;
    reply["ok"] = false;
    reply["error"] = error;
    return reply;
}

Json::Value OkReply(const Json::Value& id, Json::Value result) {
    Json::Value reply(Json::objectValue);
    reply["id"] = id;
    reply["ok"] = true;
    reply["result"] = std::move(result);
    return reply;
}

}  // namespace

std::string RunDirFromEnvironment() {
    const char* dir = std::getenv("ORVIXSIM_DIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp/orvixsim";
}

Server::Server(ServerOptions options)
    : mOptions(std::move(options)),
      mBase(event_base_new()),
      mDeviceOps(mWorld, *this),
      mReceiverOps(mWorld),
      mCli(mWorld, *this),
      mHttp(mBase.get(), mWorld.setup(), mOptions.httpPort, [this] { wake(); }),
      mPanel(mBase.get(), mWorld,
             [this](const std::vector<std::string>& argv, CliOutput* out) {
                 return runCli(argv, out);
             }),
      mEndOfTurn(event_new(
          mBase.get(), -1, 0,
          [](evutil_socket_t, short, void* self) { static_cast<Server*>(self)->endOfTurn(); },
          this)) {}

Server::~Server() {
    if (mSyslogFd >= 0) ::close(mSyslogFd);
}

bool Server::start(std::string* error) {
    // A client gone while we write to it is a failed send, never a signal.
    ::signal(SIGPIPE, SIG_IGN);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        mEvents.emplace_back(evsignal_new(
            mBase.get(), sig,
            [](evutil_socket_t, short, void* base) {
                event_base_loopbreak(static_cast<event_base*>(base));
            },
            mBase.get()));
        event_add(mEvents.back().get(), nullptr);
    }
    if (!MakeDirs(mOptions.runDir, error) || !MakeDirs(mOptions.stateDir, error)) return false;
    const std::string settings = mOptions.stateDir + "/settings.json";
    std::string why;
    if (!mWorld.settings().load(settings, &why)) {
        *error = "cannot load " + settings + ": " + why;
        return false;
    }
    mWorld.settings().setPersistPath(settings);

    const std::string panelSocket = mOptions.runDir + "/panel.sock";
    if (!listen(mOptions.runDir + "/control.sock", Peer::Kind::Control, error) ||
        !listen(mOptions.runDir + "/device.sock", Peer::Kind::Device, error) ||
        !mHttp.open(error) || !mPanel.open(mOptions.panelPort, panelSocket, error)) {
        return false;
    }
    mOwnedPaths.push_back(std::make_unique<OwnedPath>(panelSocket));
    if (mOptions.syslog) {
        mSyslogFd = BindDatagram(mOptions.syslogPath, error);
        if (mSyslogFd < 0) return false;
        mOwnedPaths.push_back(std::make_unique<OwnedPath>(mOptions.syslogPath));
        // Bursts of log lines at start-up must not be dropped while the server is busy.
        const int size = 1 << 20;
        ::setsockopt(mSyslogFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        mEvents.emplace_back(event_new(
            mBase.get(), mSyslogFd, EV_READ | EV_PERSIST,
            [](evutil_socket_t, short, void* self) { static_cast<Server*>(self)->drainSyslog(); },
            this));
        event_add(mEvents.back().get(), nullptr);
    }
    // Last: the daemon waits for this path, so everything else must be ready when it appears.
    return setReceiverListening(true, error);
}

bool Server::listen(const std::string& path, Peer::Kind kind, std::string* error) {
    const int fd = ListenUnix(path, error);
    if (fd < 0) return false;
    Listener l;
    l.kind = kind;
    l.path = std::make_unique<OwnedPath>(path);
    l.listener.reset(evconnlistener_new(
        mBase.get(),
        [](evconnlistener* listener, evutil_socket_t fd, sockaddr*, int, void* self) {
            auto* server = static_cast<Server*>(self);
            for (const Listener& l : server->mListeners) {
                if (l.listener.get() != listener) continue;
                server->mPeers.push_back(
                    std::make_unique<Peer>(server->mBase.get(), fd, l.kind, ++server->mLastPeer,
                                           [server](Peer* peer) { server->activity(peer); }));
            }
        },
        this, LEV_OPT_CLOSE_ON_FREE | LEV_OPT_CLOSE_ON_EXEC, -1, fd));
    mListeners.push_back(std::move(l));
    return true;
}

bool Server::setReceiverListening(bool listening, std::string* error) {
    auto it = std::find_if(mListeners.begin(), mListeners.end(),
                           [](const Listener& l) { return l.kind == Peer::Kind::Receiver; });
    if (listening == (it != mListeners.end())) return true;
    if (listening) {
        if (!listen(mOptions.castSocket, Peer::Kind::Receiver, error)) return false;
    } else {
        mListeners.erase(it);
    }
    mWorld.receiver().note("socket " + mOptions.castSocket + (listening ? " up" : " down"));
    return true;
}

void Server::serve() {
    const Json::Value panel = mPanel.address();
    std::fprintf(stderr,
                 "orvixsim: serving device %s/device.sock, receiver %s, control "
                 "%s/control.sock, setup http://127.0.0.1:%u%s, panel %s and %s%s%s, state %s\n",
                 mOptions.runDir.c_str(), mOptions.castSocket.c_str(), mOptions.runDir.c_str(),
                 static_cast<unsigned>(mOptions.httpPort), SetupHttp::kPath,
                 panel["url"].asCString(), panel["socket"].asCString(),
                 mOptions.syslog ? ", syslog " : "",
                 mOptions.syslog ? mOptions.syslogPath.c_str() : "", mOptions.stateDir.c_str());
    event_base_dispatch(mBase.get());
    std::fprintf(stderr, "orvixsim: stopping\n");
}

void Server::activity(Peer* peer) {
    Json::Value frame;
    while (!peer->dead && peer->takeFrame(&frame)) handleFrame(peer, frame);
    if (peer->broken && !peer->dead) {
        std::fprintf(stderr,
                     "orvixsim: %s client %llu sent something that is no frame; "
                     "disconnected\n",
                     PeerKindName(peer->kind()), static_cast<unsigned long long>(peer->number()));
        peer->dead = true;
    }
    // Answers still on their way are delivered before a client that finished goes.
    if (peer->readClosed) peer->closeWhenFlushed = true;
    if (peer->closeWhenFlushed && !peer->hasBacklog()) peer->dead = true;
    wake();
}

void Server::handleFrame(Peer* peer, const Json::Value& frame) {
    const Json::Value& id = frame["id"];
    const Json::Value& op = frame["op"];
    const Json::Value& args = frame["args"];
    if (!id.isInt64() || !op.isString() || !(args.isNull() || args.isObject())) {
        // Not a request: the stream cannot be trusted any further.
        peer->dead = true;
        return;
    }
    const Json::Value noArgs(Json::objectValue);
    const Json::Value& a = args.isNull() ? noArgs : args;
    if (peer->kind() == Peer::Kind::Control) {
        if (peer->closeWhenFlushed) return;  // one request per connection
        if (op.asString() == "cli") {
            handleControl(peer, id, a);
        } else if (op.asString() == "batch") {
            handleBatch(peer, id, a);
        } else {
            peer->send(ErrorReply(id, "the control socket knows the ops cli and batch"));
        }
        peer->closeWhenFlushed = true;
        return;
    }
    OpReply reply = peer->kind() == Peer::Kind::Device
                        ? mDeviceOps.handle(*peer, op.asString(), a)
                        : mReceiverOps.handle(*peer, op.asString(), a);
    if (!reply.ok) return peer->send(ErrorReply(id, reply.error));
    peer->send(OkReply(id, reply.result));
    for (const Json::Value& event : reply.followUps) peer->send(event);
}

void Server::handleControl(Peer* peer, const Json::Value& id, const Json::Value& args) {
    std::vector<std::string> argv;
    if (!CommandWords(args["argv"], &argv)) {
        return peer->send(ErrorReply(id, "args.argv must be an array of texts"));
    }
    CliOutput out;
    if (!runCli(argv, &out)) return peer->send(ErrorReply(id, out.error));
    Json::Value answer = OkReply(id, out.result);
    if (!out.text.empty()) answer["text"] = out.text;
    peer->send(answer);
}

void Server::handleBatch(Peer* peer, const Json::Value& id, const Json::Value& args) {
    const Json::Value& commands = args["commands"];
    if (!commands.isArray()) return peer->send(ErrorReply(id, "args.commands must be an array"));
    // All of it is checked before anything runs, so a bad request changes nothing.
    std::vector<std::pair<int, std::vector<std::string>>> batch;
    for (const Json::Value& command : commands) {
        std::vector<std::string> argv;
        if (!command.isObject() || !command["line"].isInt() ||
            !CommandWords(command["argv"], &argv)) {
            return peer->send(ErrorReply(id, "each command must be {\"line\":N,\"argv\":[texts]}"));
        }
        batch.emplace_back(command["line"].asInt(), std::move(argv));
    }
    Json::Value results(Json::arrayValue);
    for (const auto& [line, argv] : batch) {
        CliOutput out;
        if (!runCli(argv, &out)) {
            return peer->send(ErrorReply(id, "line " + std::to_string(line) + ": " + out.error +
                                                 " (" + std::to_string(results.size()) +
                                                 " commands ran before it)"));
        }
        results.append(out.result);
    }
    Json::Value result(Json::objectValue);
    result["ran"] = results.size();
    result["results"] = std::move(results);
    peer->send(OkReply(id, result));
}

bool Server::runCli(const std::vector<std::string>& argv, CliOutput* out) {
    const bool done = mCli.run(argv, out);
    // A command may have ended the setup service's hang.
    mHttp.settle();
    wake();
    return done;
}

void Server::drainSyslog() {
    // glibc sends at most a few KiB; a longer datagram is cut, which the parser takes as is.
    char buffer[16 * 1024];
    for (int i = 0; i < kDatagramsPerTurn; ++i) {
        const ssize_t n = ::recv(mSyslogFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        mWorld.syslog().recordDatagram(std::string(buffer, static_cast<size_t>(n)));
    }
    wake();
}

void Server::wake() {
    event_active(mEndOfTurn.get(), EV_TIMEOUT, 0);
}

void Server::endOfTurn() {
    // The routing state of the dead goes before they do, in the order they arrived.
    for (auto& peer : mPeers) {
        if (!peer->dead || peer->kind() != Peer::Kind::Device) continue;
        const bool otherListener = std::any_of(mPeers.begin(), mPeers.end(), [](const auto& p) {
            return !p->dead && p->listenOrder != 0;
        });
        mDeviceOps.closed(*peer, otherListener);
    }
    mPeers.erase(std::remove_if(mPeers.begin(), mPeers.end(),
                                [](const std::unique_ptr<Peer>& p) { return p->dead; }),
                 mPeers.end());
    mPanel.publish();
}

Peer* Server::latest(uint64_t Peer::*order) const {
    Peer* best = nullptr;
    for (const auto& peer : mPeers) {
        if (peer->dead || peer.get()->*order == 0) continue;
        if (best == nullptr || peer.get()->*order > best->*order) best = peer.get();
    }
    return best;
}

void Server::deliverAlerts(const std::vector<model::BusAlert>& alerts) {
    for (const model::BusAlert& alert : alerts) {
        for (auto& peer : mPeers) {
            if (!peer->dead && peer->busClient == alert.client) {
                peer->send(BusAlertEvent(alert.mid, alert.payload));
            }
        }
    }
}

bool Server::deliverSource(const model::SourceNotification& notification) {
    Peer* peer = latest(&Peer::listenOrder);
    if (peer == nullptr) return false;
    peer->send(SourceEvent(notification));
    return true;
}

bool Server::hasCastControl() const {
    return latest(&Peer::createOrder) != nullptr;
}

void Server::deliverCast(const model::CastEvent& event) {
    Peer* peer = latest(&Peer::createOrder);
    if (peer != nullptr) peer->send(CastEventFrame(event));
}

bool Server::setSetupListening(bool listening, std::string* error) {
    if (!listening) {
        mHttp.close();
        return true;
    }
    return mHttp.open(error);
}

}  // namespace orvix::sim
