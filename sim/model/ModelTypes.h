// Small value types shared by every model of the simulated device: the stamp each record
// carries, the timeline entry a record turns into, and who wrote something.
#pragma once

#include <cstdint>
#include <string>

namespace orvix::model {

// Where a record sits in the World's one sequence, and when it was made (microseconds since
// the World started or was last reset).
struct Stamp {
    uint64_t seq = 0;
    int64_t us = 0;
};

// One human-readable line of the merged timeline: the model's area ("bus", "env", "source",
// "ui", "cast", "eureka", "syslog") and what happened.
struct TimelineEntry {
    Stamp stamp;
    const char* area;
    std::string text;
};

// Who made a write: one of the daemon's clients, or a device app (test, control CLI).
enum class Origin { Daemon, App };

inline const char* originName(Origin origin) {
    return origin == Origin::Daemon ? "daemon" : "app";
}

}  // namespace orvix::model
