#include "sim/model/Journal.h"

#include <algorithm>

#include "sim/model/JsonText.h"

namespace orvix::model {

Stamp Journal::log(Json::Value entry) {
    std::lock_guard<std::mutex> guard(mLock);
    const Stamp stamp = mSequencer.next();
    entry["seq"] = Json::UInt64(stamp.seq);
    mItems.push_back(Item{stamp, std::move(entry), {}});
    return stamp;
}

Stamp Journal::note(const std::string& text) {
    std::lock_guard<std::mutex> guard(mLock);
    const Stamp stamp = mSequencer.next();
    mItems.push_back(Item{stamp, Json::Value(), text});
    return stamp;
}

void Journal::clear() {
    std::lock_guard<std::mutex> guard(mLock);
    mItems.clear();
}

Json::Value Journal::logJson() const {
    std::lock_guard<std::mutex> guard(mLock);
    Json::Value out(Json::arrayValue);
    for (const Item& item : mItems) {
        if (!item.entry.isNull()) out.append(item.entry);
    }
    return out;
}

void Journal::collectTimeline(std::vector<TimelineEntry>* out, uint64_t after) const {
    std::lock_guard<std::mutex> guard(mLock);
    // Items are kept in seq order: the new ones are found without reading the old.
    auto it = std::partition_point(mItems.begin(), mItems.end(),
                                   [after](const Item& item) { return item.stamp.seq <= after; });
    for (; it != mItems.end(); ++it) {
        out->push_back(
            TimelineEntry{it->stamp, mArea, it->entry.isNull() ? it->note : mLine(it->entry)});
    }
}

std::string callLine(const Json::Value& entry) {
    return entry["op"].asString() + compactJson(entry["args"]) + " = " +
           compactJson(entry["result"]);
}

}  // namespace orvix::model
