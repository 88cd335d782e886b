#include "sim/server/Operations.h"
#include "sim/server/WireEvents.h"

namespace orvix::sim {

OpReply ReceiverOps::handle(Peer& peer, const std::string& op, const Json::Value& args) {
    model::Receiver& receiver = mWorld.receiver();
    if (op == "cast.create") {
        const Json::Value& path = args["path"];
        if (!path.isString()) return OpReply::Fail("cast.create needs a text path");
        Json::Value callArgs(Json::arrayValue);
        callArgs.append(path);
        const bool made = receiver.call(model::CastOp::Create, callArgs).value == 1;
        if (made) peer.createOrder = ++mLastCreate;
        return OpReply::Ok(made);
    }
    if (op == "cast.call") {
        const Json::Value& name = args["op"];
        const Json::Value& list = args["args"];
        model::CastOp castOp;
        if (!name.isString() || !model::castOpFromName(name.asString(), &castOp) ||
            castOp == model::CastOp::Create) {
            return OpReply::Fail("cast.call needs a known operation");
        }
        if (!list.isNull() && !list.isArray()) return OpReply::Fail("cast.call args is an array");
        const model::CastCallOutcome outcome = receiver.call(castOp, list);
        OpReply reply = OpReply::Ok(outcome.value);
        if (outcome.response) reply.followUps.push_back(CastEventFrame(*outcome.response));
        return reply;
    }
    return OpReply::Fail("unknown receiver operation: " + op);
}

}  // namespace orvix::sim
