#include "sim/model/Sequencer.h"

namespace orvix::model {

Sequencer::Sequencer() : mStart(std::chrono::steady_clock::now()) {}

Stamp Sequencer::next() {
    std::lock_guard<std::mutex> guard(mLock);
    Stamp stamp;
    stamp.seq = ++mLast;
    stamp.us = std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - mStart)
                   .count();
    return stamp;
}

void Sequencer::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mLast = 0;
    mStart = std::chrono::steady_clock::now();
}

}  // namespace orvix::model
