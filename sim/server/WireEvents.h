// The event frames the simulator sends, built from the models' records in the shapes the
// protocol document fixes (member names differ from the models' own JSON on purpose: the
// wire format belongs to the protocol, not to the model).
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

#include "sim/model/CastRecords.h"
#include "sim/model/SourceSwitchService.h"

namespace orvix::sim {

Json::Value BusAlertEvent(int32_t mid, const std::string& payload);
Json::Value SourceEvent(const model::SourceNotification& notification);
// cast.connected, cast.disconnected, cast.response, cast.status, cast.media or
// cast.callback.
Json::Value CastEventFrame(const model::CastEvent& event);

}  // namespace orvix::sim
