// The device's user-visible name as getFriendlyName reports it, with the status it returns.
#pragma once

#include <mutex>
#include <string>

#include "sim/model/Journal.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

class DeviceName {
public:
    explicit DeviceName(Sequencer& sequencer);

    // Empty name, status 0, no record.
    void reset();

    void setName(const std::string& name);
    // What getFriendlyName returns from now on (0 is success).
    void setStatus(int status);

    // getFriendlyName: fills name (whatever the status) and returns the status.
    int get(std::string* name) const;
    std::string name() const;

    // Timeline only: the changes, in the env area.
    const Journal& journal() const { return mJournal; }

private:
    Journal mJournal;
    // Guards everything below.
    mutable std::mutex mLock;
    std::string mName;
    int mStatus = 0;
};

}  // namespace orvix::model
