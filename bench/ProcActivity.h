// What a process did over a window, from /proc: CPU time, context switches (each one a
// wake-up of a thread that slept or was preempted) per thread, and resident memory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace orvix::bench {

struct ProcSnapshot {
    struct Thread {
        std::string name;
        uint64_t switches = 0;  // voluntary + nonvoluntary
        uint64_t runNs = 0;
    };
    std::chrono::steady_clock::time_point at;
    std::map<pid_t, Thread> threads;
    // utime + stime of the whole process, in ns (clock-tick resolution).
    uint64_t processCpuNs = 0;
    long rssKiB = -1;
};

// False when the process is gone.
bool TakeSnapshot(pid_t pid, ProcSnapshot* out);

struct Activity {
    double seconds = 0;
    double cpuPercent = 0;
    double wakeupsPerSecond = 0;
    // Wake-ups per second by thread, as "name/tid".
    std::map<std::string, double> perThread;
};

// Threads that started within the window count from zero; those that ended in it are lost
// (the per-thread breakdown shows which were there).
Activity Between(const ProcSnapshot& before, const ProcSnapshot& after);

}  // namespace orvix::bench
