#include "sim/model/Sequencer.h"

namespace orvix::model {

Sequencer::Sequencer() : mStart(std::chrono::steady_clock::now()) {}

Stamp Sequencer::next() {
    std::lock_guard<std::mutex> guard(mLock);
    return Stamp{++mLast, std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - mStart)
                              .count()};
}

uint64_t Sequencer::last() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mLast;
}

int64_t Sequencer::nowUs() const {
    std::lock_guard<std::mutex> guard(mLock);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 mStart)
        .count();
}

void Sequencer::reset() {
    std::lock_guard<std::mutex> guard(mLock);
    mLast = 0;
    mStart = std::chrono::steady_clock::now();
}

}  // namespace orvix::model
