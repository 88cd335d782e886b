// The one sequence counter of a World. Every record of every model takes its stamp here, so
// records of different logs can be merged by seq into one timeline.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "sim/model/ModelTypes.h"

namespace orvix::model {

class Sequencer {
public:
    Sequencer();

    // The next stamp: seq is one more than the last one handed out (the first is 1).
    Stamp next();
    // Starts again at seq 1 and time 0.
    void reset();
    // The seq last handed out (0: none yet); it moves whenever any model records something.
    uint64_t last() const;
    // Microseconds since the start, on the clock of the stamps.
    int64_t nowUs() const;

private:
    // Guards the pair, so that seq order and time order never disagree.
    mutable std::mutex mLock;
    uint64_t mLast = 0;
    std::chrono::steady_clock::time_point mStart;
};

}  // namespace orvix::model
