// Turns the receiver's event frames into the cast library's calls: the observer's operations
// (with records whose texts live for the duration of the call) and the callback variables.
#pragma once

#include <json/json.h>

#include <string>

#include "platform/cast/CastControl.h"

namespace orvix::host {

// Calls observer for a cast.connected/disconnected/response/status/media event. False when
// the frame's members have the wrong types (nothing is called then); other events: true.
bool DeliverObserverEvent(chromecast::CastControl::Observer& observer, const std::string& name,
                          const Json::Value& frame);

// Calls the callback variable that a "cast.callback" event names, when it is set. False when
// the frame is malformed.
bool DeliverCliCallback(const Json::Value& frame);

}  // namespace orvix::host
