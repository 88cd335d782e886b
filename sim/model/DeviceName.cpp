#include "sim/model/DeviceName.h"

#include "sim/model/JsonText.h"

namespace orvix::model {

DeviceName::DeviceName(Sequencer& sequencer) : mSequencer(sequencer) {}

void DeviceName::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mName.clear();
    mStatus = 0;
    mNotes.clear();
}

void DeviceName::setName(const std::string& name) {
    std::lock_guard<std::mutex> guard(mLock);
    mName = name;
    mNotes.push_back(Note{mSequencer.next(), "name set to " + quoteJson(name)});
}

void DeviceName::setStatus(int status) {
    std::lock_guard<std::mutex> guard(mLock);
    mStatus = status;
    mNotes.push_back(Note{mSequencer.next(), "name status " + std::to_string(status)});
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

void DeviceName::collectTimeline(std::vector<TimelineEntry>* out) const {
    std::lock_guard<std::mutex> guard(mLock);
    for (const Note& n : mNotes) out->push_back(timelineEntry(n.stamp, "env", n.text));
}

}  // namespace orvix::model
