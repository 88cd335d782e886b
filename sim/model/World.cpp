#include "sim/model/World.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace orvix::model {

World::World()
    : mBus(mSequencer),
      mSettings(mSequencer),
      mDeviceName(mSequencer),
      mSource(mSequencer),
      mUi(mSequencer),
      mReceiver(mSequencer),
      mSetup(mSequencer),
      mSyslog(mSequencer) {}

void World::reset() {
    mBus.reset();
    mSettings.reset();
    mDeviceName.reset();
    mSource.reset();
    mUi.reset();
    mReceiver.reset();
    mSetup.reset();
    mSyslog.reset();
    mSequencer.reset();
}

std::vector<TimelineEntry> World::timelineEntries(uint64_t after) const {
    std::vector<TimelineEntry> entries;
    for (const Journal* journal :
         {&mBus.journal(), &mSettings.journal(), &mDeviceName.journal(), &mSource.journal(),
          &mUi.journal(), &mReceiver.journal(), &mSetup.journal(), &mSyslog.journal()}) {
        journal->collectTimeline(&entries, after);
    }
    std::sort(entries.begin(), entries.end(), [](const TimelineEntry& a, const TimelineEntry& b) {
        return a.stamp.seq < b.stamp.seq;
    });
    return entries;
}

std::vector<std::string> World::timeline() const {
    std::vector<std::string> lines;
    for (const TimelineEntry& e : timelineEntries()) {
        char prefix[48];
        std::snprintf(prefix, sizeof prefix, "%6" PRIu64 " %9.3f %-8s ", e.stamp.seq,
                      static_cast<double>(e.stamp.us) / 1e6, e.area);
        lines.push_back(prefix + e.text);
    }
    return lines;
}

Json::Value World::timelineJson() const {
    Json::Value out(Json::arrayValue);
    for (const std::string& line : timeline()) out.append(line);
    return out;
}

}  // namespace orvix::model
