// One round of poll(2): the server adds every descriptor it waits on with what to do when it
// is ready, waits once, then runs the handlers. Handlers must not close descriptors of this
// round (they mark their owner dead and the server reaps it after the round), so a number
// can never be reused while the round still refers to it.
#pragma once

#include <poll.h>

#include <functional>
#include <vector>

namespace orvix::sim {

class PollSet {
public:
    using Handler = std::function<void(short revents)>;

    void add(int fd, short events, Handler handler);
    // Waits up to timeoutMs (-1: no limit) and runs the handler of every ready descriptor.
    // False when poll failed for a reason other than a signal.
    bool wait(int timeoutMs);

private:
    std::vector<pollfd> mFds;
    std::vector<Handler> mHandlers;
};

}  // namespace orvix::sim
