// A model's one record of what happened, from which both its `log` command and the timeline
// are rendered. A logged thing is kept once, as the JSON entry the log prints (its "seq" set
// here); its timeline line is drawn from that same entry by the model's line function.
// Remarks that are no log entry (a service going up or down, a registration) are kept as
// text for the timeline alone.
#pragma once

#include <json/json.h>

#include <mutex>
#include <string>
#include <vector>

#include "sim/model/ModelTypes.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

class Journal {
public:
    using Line = std::string (*)(const Json::Value& entry);

    Journal(Sequencer& sequencer, const char* area, Line line = nullptr)
        : mSequencer(sequencer), mArea(area), mLine(line) {}

    // Stamps and keeps the entry.
    Stamp log(Json::Value entry);
    Stamp note(const std::string& text);
    void clear();

    // The entries, oldest first.
    Json::Value logJson() const;
    // The timeline lines of the items after seq `after`.
    void collectTimeline(std::vector<TimelineEntry>* out, uint64_t after = 0) const;

private:
    struct Item {
        Stamp stamp;
        Json::Value entry;  // null for a remark
        std::string note;
    };

    Sequencer& mSequencer;
    const char* const mArea;
    const Line mLine;
    // Guards mItems.
    mutable std::mutex mLock;
    std::vector<Item> mItems;
};

// "Op[args] = result": a call as the cast and source timelines show it.
std::string callLine(const Json::Value& entry);

}  // namespace orvix::model
