#include "sim/server/Server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sim/server/WireEvents.h"

namespace orvix::sim {

namespace {

// A CLI that connects but never sends its request is dropped after this.
constexpr std::chrono::seconds kControlTime{10};
// The poll wakes at least this often, for the deadlines.
constexpr int kTickMs = 500;

// The write end of the stop pipe: the signal handler's only way to the poll loop.
int gStopPipe = -1;
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a stop, so the result does not matter.
    [[maybe_unused]] const ssize_t written = ::write(gStopPipe, &byte, 1);
    errno = saved;
}

Json::Value ErrorReply(const Json::Value& id, const std::string& error) {
    Json::Value reply(Json::objectValue);
    reply["id"] = id;
    reply["ok"] = false;
    reply["error"] = error;
    return reply;
}

}  // namespace

std::string RunDirFromEnvironment() {
    const char* dir = std::getenv("ORVIXSIM_DIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp/orvixsim";
}

Server::Server(ServerOptions options)
    : mOptions(std::move(options)),
      mDeviceOps(mWorld, *this),
      mReceiverOps(mWorld),
      mCli(mWorld, *this),
      mHttp(mWorld.setup(), mOptions.httpPort),
      mSyslog(mWorld.syslog()) {}

Server::~Server() {
    mPeers.clear();
    for (const Listener& l : mListeners) ::close(l.fd);
    // mOwnedPaths removes the socket files as it goes.
    if (mStopRead >= 0) {
        for (size_t i = 0; i < mOldActions.size(); ++i) {
            ::sigaction(kStopSignals[i], &mOldActions[i], nullptr);
        }
        gStopPipe = -1;
        ::close(mStopRead);
        ::close(mStopWrite);
    }
}

bool Server::start(std::string* error) {
    // A client gone while we write to it is a failed send, never a signal.
    ::signal(SIGPIPE, SIG_IGN);
    // A handler rather than a blocked signal read from a descriptor: a signal mask covers
    // only the threads we know of, and a runtime may start threads of its own (sanitizers do).
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "cannot make the stop pipe";
        return false;
    }
    mStopRead = fds[0];
    mStopWrite = fds[1];
    gStopPipe = mStopWrite;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < mOldActions.size(); ++i) {
        ::sigaction(kStopSignals[i], &action, &mOldActions[i]);
    }
    if (!MakeDirs(mOptions.runDir, error) || !MakeDirs(mOptions.stateDir, error)) return false;
    const std::string settings = mOptions.stateDir + "/settings.json";
    std::string why;
    if (!mWorld.settings().load(settings, &why)) {
        *error = "cannot load " + settings + ": " + why;
        return false;
    }
    mWorld.settings().setPersistPath(settings);

    if (!listen(mOptions.runDir + "/control.sock", Peer::Kind::Control, error) ||
        !listen(mOptions.runDir + "/device.sock", Peer::Kind::Device, error) ||
        !mHttp.open(error)) {
        return false;
    }
    if (mOptions.syslog) {
        if (!mSyslog.open(mOptions.syslogPath, error)) return false;
        mOwnedPaths.push_back(std::make_unique<OwnedPath>(mOptions.syslogPath));
    }
    // Last: the daemon waits for this path, so everything else must be ready when it appears.
    return setReceiverListening(true, error);
}

bool Server::listen(const std::string& path, Peer::Kind kind, std::string* error) {
    const int fd = ListenUnix(path, error);
    if (fd < 0) return false;
    mListeners.push_back(Listener{fd, kind});
    auto owned = std::make_unique<OwnedPath>(path);
    if (kind == Peer::Kind::Receiver) {
        mCastPath = std::move(owned);
    } else {
        mOwnedPaths.push_back(std::move(owned));
    }
    return true;
}

bool Server::listening(int fd) const {
    return std::any_of(mListeners.begin(), mListeners.end(),
                       [fd](const Listener& l) { return l.fd == fd; });
}

bool Server::setReceiverListening(bool listening, std::string* error) {
    auto it = std::find_if(mListeners.begin(), mListeners.end(),
                           [](const Listener& l) { return l.kind == Peer::Kind::Receiver; });
    if (listening == (it != mListeners.end())) return true;
    if (listening) {
        if (!listen(mOptions.castSocket, Peer::Kind::Receiver, error)) return false;
        mWorld.receiver().note("socket " + mOptions.castSocket + " up");
        return true;
    }
    ::close(it->fd);
    mListeners.erase(it);
    mCastPath.reset();
    mWorld.receiver().note("socket " + mOptions.castSocket + " down");
    return true;
}

void Server::serve() {
    std::fprintf(stderr,
                 "orvixsim: serving device %s/device.sock, receiver %s, control "
                 "%s/control.sock, setup http://127.0.0.1:%u%s%s%s, state %s\n",
                 mOptions.runDir.c_str(), mOptions.castSocket.c_str(), mOptions.runDir.c_str(),
                 static_cast<unsigned>(mOptions.httpPort), SetupHttp::kPath,
                 mOptions.syslog ? ", syslog " : "",
                 mOptions.syslog ? mOptions.syslogPath.c_str() : "", mOptions.stateDir.c_str());
    while (!mStopping) {
        PollSet set;
        set.add(mStopRead, POLLIN, [this](short) { mStopping = true; });
        for (const Listener& l : mListeners) {
            set.add(l.fd, POLLIN, [this, l](short) {
                // It may have been closed earlier in this round ("cast socket down").
                if (listening(l.fd)) accept(l);
            });
        }
        for (auto& peer : mPeers) {
            Peer* p = peer.get();
            const short events = (p->readClosed ? 0 : POLLIN) | (p->hasBacklog() ? POLLOUT : 0);
            set.add(p->fd(), events, [this, p](short revents) {
                if (p->dead) return;
                if (revents & POLLOUT) {
                    if (!p->flush()) p->dead = true;
                }
                if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
                if (!p->readClosed) {
                    readFrom(p);
                } else if (revents & (POLLHUP | POLLERR)) {
                    p->dead = true;
                }
            });
        }
        mHttp.addTo(&set);
        mSyslog.addTo(&set);
        if (!set.wait(kTickMs)) {
            std::perror("orvixsim: poll");
            break;
        }
        reap();
    }
    std::fprintf(stderr, "orvixsim: stopping\n");
}

void Server::accept(const Listener& listener) {
    for (;;) {
        const int fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        auto peer = std::make_unique<Peer>(fd, listener.kind, ++mLastPeer);
        if (listener.kind == Peer::Kind::Control) {
            peer->deadline = std::chrono::steady_clock::now() + kControlTime;
        }
        mPeers.push_back(std::move(peer));
    }
}

void Server::readFrom(Peer* peer) {
    std::vector<Json::Value> frames;
    const Peer::ReadStatus status = peer->receive(&frames);
    if (status == Peer::ReadStatus::Broken) {
        std::fprintf(stderr,
                     "orvixsim: %s client %llu sent something that is no frame; "
                     "disconnected\n",
                     PeerKindName(peer->kind()), static_cast<unsigned long long>(peer->number()));
        peer->dead = true;
        return;
    }
    for (const Json::Value& frame : frames) {
        if (peer->dead) break;
        handleFrame(peer, frame);
    }
    if (status == Peer::ReadStatus::Closed) {
        // Answers still on their way are delivered first.
        peer->readClosed = true;
        if (peer->hasBacklog()) {
            peer->closeWhenFlushed = true;
        } else {
            peer->dead = true;
        }
    }
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
    if (!reply.ok) {
        peer->send(ErrorReply(id, reply.error));
        return;
    }
    Json::Value answer(Json::objectValue);
    answer["id"] = id;
    answer["ok"] = true;
    answer["result"] = reply.result;
    peer->send(answer);
    for (const Json::Value& event : reply.followUps) peer->send(event);
}

void Server::handleControl(Peer* peer, const Json::Value& id, const Json::Value& args) {
    const Json::Value& argvJson = args["argv"];
    std::vector<std::string> argv;
    bool valid = argvJson.isArray();
    for (const Json::Value& arg : argvJson) {
        valid = valid && arg.isString();
        if (valid) argv.push_back(arg.asString());
    }
    if (!valid) {
        peer->send(ErrorReply(id, "args.argv must be an array of texts"));
        return;
    }
    CliOutput out;
    if (!mCli.run(argv, &out)) {
        peer->send(ErrorReply(id, out.error));
        return;
    }
    Json::Value answer(Json::objectValue);
    answer["id"] = id;
    answer["ok"] = true;
    answer["result"] = out.result;
    if (!out.text.empty()) answer["text"] = out.text;
    peer->send(answer);
}

void Server::handleBatch(Peer* peer, const Json::Value& id, const Json::Value& args) {
    const Json::Value& commands = args["commands"];
    if (!commands.isArray()) {
        peer->send(ErrorReply(id, "args.commands must be an array"));
        return;
    }
    // All of it is checked before anything runs, so a bad request changes nothing.
    std::vector<std::pair<int, std::vector<std::string>>> batch;
    for (const Json::Value& command : commands) {
        const Json::Value& line = command["line"];
        const Json::Value& argvJson = command["argv"];
        bool valid = command.isObject() && line.isInt() && argvJson.isArray();
        std::vector<std::string> argv;
        for (const Json::Value& arg : valid ? argvJson : Json::Value(Json::arrayValue)) {
            valid = valid && arg.isString();
            if (valid) argv.push_back(arg.asString());
        }
        if (!valid) {
            peer->send(ErrorReply(id, "each command must be {\"line\":N,\"argv\":[texts]}"));
            return;
        }
        batch.emplace_back(line.asInt(), std::move(argv));
    }
    Json::Value results(Json::arrayValue);
    for (const auto& [line, argv] : batch) {
        CliOutput out;
        if (!mCli.run(argv, &out)) {
            peer->send(ErrorReply(id, "line " + std::to_string(line) + ": " + out.error + " (" +
                                          std::to_string(results.size()) +
                                          " commands ran before it)"));
            return;
        }
        results.append(out.result);
    }
    Json::Value answer(Json::objectValue);
    answer["id"] = id;
    answer["ok"] = true;
    answer["result"]["ran"] = results.size();
    answer["result"]["results"] = std::move(results);
    peer->send(answer);
}

void Server::reap() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& peer : mPeers) {
        if (peer->closeWhenFlushed && !peer->hasBacklog()) peer->dead = true;
        if (now >= peer->deadline) peer->dead = true;
    }
    // The routing state of the dead goes before they do, in the order they arrived.
    for (auto& peer : mPeers) {
        if (!peer->dead || peer->kind() != Peer::Kind::Device) continue;
        bool otherListener = false;
        for (auto& other : mPeers) {
            otherListener = otherListener || (!other->dead && other->listenOrder != 0);
        }
        mDeviceOps.closed(*peer, otherListener);
    }
    mPeers.erase(std::remove_if(mPeers.begin(), mPeers.end(),
                                [](const std::unique_ptr<Peer>& p) { return p->dead; }),
                 mPeers.end());
    mHttp.reap(now);
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
