// The syslog lines the daemon wrote, as the simulator's /dev/log received them. The server
// feeds it; it only parses and records.
#pragma once

#include <json/json.h>

#include <string>

#include "sim/model/Journal.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

struct SyslogEntry {
    int priority = 0;  // 0 (emerg) to 7 (debug)
    int facility = 0;  // the facility number: LOG_LOCAL1 is 17
    std::string ident;
    int pid = 0;
    std::string text;
};

class SyslogCollector {
public:
    explicit SyslogCollector(Sequencer& sequencer);

    // Empty log.
    void reset();

    void record(int priority, int facility, const std::string& ident, int pid,
                const std::string& text);
    // Parses and records one datagram as glibc's syslog() sends it:
    // "<PRI>Mmm dd hh:mm:ss ident[pid]: text". False (nothing recorded) when it has no <PRI>.
    bool recordDatagram(const std::string& datagram);
    // The parse alone.
    static bool parseDatagram(const std::string& datagram, SyslogEntry* entry);

    // [{"seq":N,"priority":P,"facility":F,"ident":"...","pid":N,"text":"..."}]
    const Journal& journal() const { return mJournal; }

private:
    Journal mJournal;
};

}  // namespace orvix::model
