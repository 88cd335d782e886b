#include "sim/model/DeviceName.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

DeviceName::DeviceName(Sequencer& sequencer) : mJournal(sequencer, "env") {}

void DeviceName::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mName.clear();
    mStatus = 0;
    mJournal.clear();
}

void DeviceName::setName(const std::string& name) {
    std::lock_guard<std::mutex> guard(mLock);
    mName = name;
    mJournal.note("name set to " + quoteJson(name));
}

void DeviceName::setStatus(int status) {
    std::lock_guard<std::mutex> guard(mLock);
    mStatus = status;
    mJournal.note("name status " + std::to_string(status));
}

int DeviceName::get(std::string* name) const {
    std::lock_guard<std::mutex> guard(mLock);
    *name = mName;
    return mStatus;
}

std::string DeviceName::name() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mName;
}

}  // namespace orvix::model
