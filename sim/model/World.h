// The whole simulated device and receiver: one sequence counter and one of each model, all
// stamping their records from that counter so that timeline() can merge them.
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

#include "sim/model/DeviceName.h"
#include "sim/model/MessageBus.h"
#include "sim/model/Receiver.h"
#include "sim/model/Sequencer.h"
#include "sim/model/SettingsStore.h"
#include "sim/model/SetupService.h"
#include "sim/model/SourceSwitchService.h"
#include "sim/model/SyslogCollector.h"
#include "sim/model/UiManager.h"

namespace orvix::model {

class World {
public:
    World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Every model back to its defaults with empty logs, and the sequence from 1 again.
    void reset();

    MessageBus& bus() { return mBus; }
    SettingsStore& settings() { return mSettings; }
    DeviceName& deviceName() { return mDeviceName; }
    SourceSwitchService& source() { return mSource; }
    UiManager& ui() { return mUi; }
    Receiver& receiver() { return mReceiver; }
    SetupService& setup() { return mSetup; }
    SyslogCollector& syslog() { return mSyslog; }

    const Sequencer& sequencer() const { return mSequencer; }

    // Every record of every model after seq `after`, in seq order.
    std::vector<TimelineEntry> timelineEntries(uint64_t after = 0) const;
    // The same, one line each:
    // "   12     3.201 bus      daemon vemo-1 wrote MID 572 (remote): \"...\"".
    std::vector<std::string> timeline() const;
    Json::Value timelineJson() const;

private:
    Sequencer mSequencer;
    MessageBus mBus;
    SettingsStore mSettings;
    DeviceName mDeviceName;
    SourceSwitchService mSource;
    UiManager mUi;
    Receiver mReceiver;
    SetupService mSetup;
    SyslogCollector mSyslog;
};

}  // namespace orvix::model
