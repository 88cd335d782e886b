// What the simulator's request handlers and control commands need from the server: getting
// events to the right connection and switching the setup service's socket.
#pragma once

#include <string>
#include <vector>

#include "sim/model/CastRecords.h"
#include "sim/model/MessageBus.h"
#include "sim/model/SourceSwitchService.h"

namespace orvix::sim {

class Router {
public:
    virtual ~Router() = default;

    // Each alert goes to the connection that is the alert's bus client.
    virtual void deliverAlerts(const std::vector<model::BusAlert>& alerts) = 0;
    // To the connection that last sent source.listen; false when there is none.
    virtual bool deliverSource(const model::SourceNotification& notification) = 0;
    // The connection that last made a cast control gets every cast event.
    virtual bool hasCastControl() const = 0;
    virtual void deliverCast(const model::CastEvent& event) = 0;
    // Opens or closes the cast control socket (the daemon waits for it to appear); the
    // connections already made stay.
    virtual bool setReceiverListening(bool listening, std::string* error) = 0;
    // Opens or closes the setup service's listening socket.
    virtual bool setSetupListening(bool listening, std::string* error) = 0;
    // Where the front panel listens: {"url":"...","socket":"..."}.
    virtual Json::Value panelAddress() const = 0;
};

}  // namespace orvix::sim
