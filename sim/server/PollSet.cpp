#include "sim/server/PollSet.h"

#include <errno.h>

namespace orvix::sim {

void PollSet::add(int fd, short events, Handler handler) {
    mFds.push_back(pollfd{fd, events, 0});
    mHandlers.push_back(std::move(handler));
}

bool PollSet::wait(int timeoutMs) {
    const int n = ::poll(mFds.data(), mFds.size(), timeoutMs);
    if (n < 0) return errno == EINTR;
    for (size_t i = 0; i < mFds.size() && n > 0; ++i) {
        if (mFds[i].revents != 0) mHandlers[i](mFds[i].revents);
    }
    return true;
}

}  // namespace orvix::sim
