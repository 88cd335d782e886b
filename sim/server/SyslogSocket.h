// The simulator's /dev/log: a datagram socket whose every message goes to the
// SyslogCollector model (priority, facility, identity, pid and text).
#pragma once

#include <string>

#include "sim/model/SyslogCollector.h"
#include "sim/server/PollSet.h"

namespace orvix::sim {

class SyslogSocket {
public:
    explicit SyslogSocket(model::SyslogCollector& collector) : mCollector(collector) {}
    ~SyslogSocket();
    SyslogSocket(const SyslogSocket&) = delete;
    SyslogSocket& operator=(const SyslogSocket&) = delete;

    bool open(const std::string& path, std::string* error);
    void addTo(PollSet* set);

private:
    void drain();

    model::SyslogCollector& mCollector;
    int mFd = -1;
};

}  // namespace orvix::sim
