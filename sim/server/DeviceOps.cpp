#include <cstdio>

#include "sim/model/JsonText.h"
#include "sim/server/Operations.h"

namespace orvix::sim {

namespace {

bool ReadMids(const Json::Value& args, std::vector<int32_t>* mids) {
    const Json::Value& list = args["mids"];
    if (!list.isArray()) return false;
    for (const Json::Value& mid : list) {
        if (!mid.isInt()) return false;
        mids->push_back(mid.asInt());
    }
    return true;
}

bool ReadString(const Json::Value& args, const char* key, std::string* out) {
    const Json::Value& value = args[key];
    if (!value.isString()) return false;
    *out = value.asString();
    return true;
}

bool ReadField(const Json::Value& field, model::UiField* out) {
    if (!field.isObject() || !field["key"].isString() || !field["type"].isString()) return false;
    const std::string key = field["key"].asString();
    const std::string type = field["type"].asString();
    const Json::Value& value = field["value"];
    if (type == "int32" && value.isInt()) {
        *out = model::UiField::int32(key, value.asInt());
    } else if (type == "double" && value.isNumeric() && !value.isBool()) {
        *out = model::UiField::real(key, value.asDouble());
    } else if (type == "string" && value.isString()) {
        *out = model::UiField::string(key, value.asString());
    } else {
        return false;
    }
    return true;
}

}  // namespace

OpReply OpReply::Ok(Json::Value result) {
    OpReply reply;
    reply.result = std::move(result);
    return reply;
}

OpReply OpReply::Fail(std::string error) {
    OpReply reply;
    reply.ok = false;
    reply.error = std::move(error);
    return reply;
}

const std::string& DeviceOps::busClient(Peer& peer) {
    if (peer.busClient.empty()) peer.busClient = mWorld.bus().newClientId();
    return peer.busClient;
}

OpReply DeviceOps::handle(Peer& peer, const std::string& op, const Json::Value& args) {
    if (op.compare(0, 4, "bus.") == 0) return bus(peer, op, args);
    if (op == "env.get") {
        std::string key;
        if (!ReadString(args, "key", &key)) return OpReply::Fail("env.get needs a text key");
        std::string value;
        const bool set = mWorld.settings().get(key, &value);
        Json::Value result(Json::objectValue);
        result["set"] = set;
        result["value"] = value;
        return OpReply::Ok(result);
    }
    if (op == "env.set") {
        std::string key, value;
        if (!ReadString(args, "key", &key) || !ReadString(args, "value", &value)) {
            return OpReply::Fail("env.set needs a text key and value");
        }
        if (!mWorld.settings().set(key, value, model::Origin::Daemon)) {
            std::fprintf(stderr, "orvixsim: settings store could not be saved\n");
        }
        return OpReply::Ok(0);
    }
    if (op == "name.get") {
        std::string name;
        const int status = mWorld.deviceName().get(&name);
        Json::Value result(Json::objectValue);
        result["status"] = status;
        result["name"] = name;
        return OpReply::Ok(result);
    }
    if (op == "source.listen") {
        peer.listenOrder = ++mLastListen;
        mWorld.source().setListenerKnown(true);
        return OpReply::Ok(0);
    }
    if (op == "source.call") return sourceCall(peer, args);
    if (op == "ui.available") return OpReply::Ok(mWorld.ui().up());
    if (op == "ui.update") return uiUpdate(args);
    return OpReply::Fail("unknown device operation: " + op);
}

OpReply DeviceOps::bus(Peer& peer, const std::string& op, const Json::Value& args) {
    model::MessageBus& bus = mWorld.bus();
    if (op == "bus.verify") return OpReply::Ok(bus.reachable());
    if (op == "bus.register" || op == "bus.unregister") {
        std::vector<int32_t> mids;
        if (!ReadMids(args, &mids)) return OpReply::Fail(op + " needs an array of integer mids");
        if (op == "bus.unregister") {
            bus.unregisterListener(busClient(peer), mids);
        } else if (!bus.registerListener(busClient(peer), mids)) {
            return OpReply::Fail("bus unreachable");
        }
        return OpReply::Ok(0);
    }
    const Json::Value& mid = args["mid"];
    if (!mid.isInt()) return OpReply::Fail(op + " needs an integer mid");
    if (op == "bus.read") {
        std::string payload;
        if (!bus.read(mid.asInt(), &payload)) return OpReply::Fail("bus unreachable");
        return OpReply::Ok(payload);
    }
    if (op == "bus.write") {
        std::string payload;
        if (!ReadString(args, "payload", &payload))
            return OpReply::Fail("bus.write needs a payload");
        const Json::Value& scopeJson = args["scope"];
        model::Scope scope = model::Scope::Remote;
        if (scopeJson.isString() && scopeJson.asString() == "local") {
            scope = model::Scope::Local;
        } else if (!scopeJson.isNull() &&
                   !(scopeJson.isString() && scopeJson.asString() == "remote")) {
            return OpReply::Fail("bus.write scope is remote or local");
        }
        std::vector<model::BusAlert> alerts;
        if (!bus.write(busClient(peer), model::Origin::Daemon, scope, mid.asInt(), payload,
                       &alerts)) {
            return OpReply::Fail("bus unreachable");
        }
        mRouter.deliverAlerts(alerts);
        return OpReply::Ok(0);
    }
    return OpReply::Fail("unknown device operation: " + op);
}

OpReply DeviceOps::sourceCall(Peer& peer, const Json::Value& args) {
    std::string op;
    const Json::Value& list = args["args"];
    if (!ReadString(args, "op", &op) || !list.isArray()) {
        return OpReply::Fail("source.call needs an op and an args array");
    }
    model::SourceSwitchService& source = mWorld.source();
    const bool listener = peer.listenOrder != 0;
    const Json::Value& first = list.size() == 1 ? list[0] : Json::Value();
    if (op == "PlayMySource" && first.isInt()) {
        return OpReply::Ok(source.playMySource(listener, first.asInt()));
    }
    if (op == "UpdatePlayerState" && first.isInt()) {
        return OpReply::Ok(source.updatePlayerState(listener, first.asInt()));
    }
    if (op == "NotifyPlaybackStopped" && list.empty()) {
        return OpReply::Ok(source.notifyPlaybackStopped(listener));
    }
    if (op == "DisconnectMySource" && list.empty()) {
        return OpReply::Ok(source.disconnectMySource(listener));
    }
    if (op == "UpdateAppVolume" && first.isString()) {
        return OpReply::Ok(source.updateAppVolume(first.asString()));
    }
    if (op == "UpdateAppMuteStat" && first.isBool()) {
        return OpReply::Ok(source.updateAppMuteStat(first.asBool()));
    }
    return OpReply::Fail("bad source.call: " + op + " " + model::compactJson(list));
}

OpReply DeviceOps::uiUpdate(const Json::Value& args) {
    std::string op;
    const Json::Value& list = args["fields"];
    if (!ReadString(args, "op", &op) || (op != "metadata" && op != "clear") || !list.isArray()) {
        return OpReply::Fail("ui.update needs op metadata or clear and a fields array");
    }
    std::vector<model::UiField> fields;
    for (const Json::Value& field : list) {
        model::UiField f;
        if (!ReadField(field, &f))
            return OpReply::Fail("bad ui field: " + model::compactJson(field));
        fields.push_back(std::move(f));
    }
    const bool done = op == "metadata" ? mWorld.ui().metadata(fields) : mWorld.ui().clear(fields);
    if (!done) return OpReply::Fail("UI manager is down");
    return OpReply::Ok(0);
}

void DeviceOps::closed(Peer& peer, bool otherListenerLeft) {
    if (!peer.busClient.empty()) mWorld.bus().dropClient(peer.busClient);
    if (peer.listenOrder != 0 && !otherListenerLeft) mWorld.source().setListenerKnown(false);
}

}  // namespace orvix::sim
