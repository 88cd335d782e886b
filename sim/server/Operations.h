// The requests the daemon's platform clients send: device-socket operations (bus, settings,
// device name, source switch, UI manager) and receiver-socket operations (cast control and
// function API). Each applies the model and says what to answer; events for other
// connections go through the Router.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/model/World.h"
#include "sim/server/Peer.h"
#include "sim/server/Router.h"

namespace orvix::sim {

struct OpReply {
    bool ok = true;
    Json::Value result;
    std::string error;
    // Event frames for the requesting connection, sent right after the reply.
    std::vector<Json::Value> followUps;

    static OpReply Ok(Json::Value result);
    static OpReply Fail(std::string error);
};

class DeviceOps {
public:
    DeviceOps(model::World& world, Router& router) : mWorld(world), mRouter(router) {}

    OpReply handle(Peer& peer, const std::string& op, const Json::Value& args);
    // The connection is gone: its bus registrations go with it.
    void closed(Peer& peer, bool otherListenerLeft);

private:
    OpReply bus(Peer& peer, const std::string& op, const Json::Value& args);
    OpReply sourceCall(Peer& peer, const Json::Value& args);
    OpReply uiUpdate(const Json::Value& args);
    const std::string& busClient(Peer& peer);

    model::World& mWorld;
    Router& mRouter;
    uint64_t mLastListen = 0;
};

class ReceiverOps {
public:
    explicit ReceiverOps(model::World& world) : mWorld(world) {}

    OpReply handle(Peer& peer, const std::string& op, const Json::Value& args);

private:
    model::World& mWorld;
    uint64_t mLastCreate = 0;
};

}  // namespace orvix::sim
