#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bench/ProcActivity.h"

namespace orvix::bench {

namespace {

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// utime + stime from a stat line; the name in parentheses may hold blanks.
uint64_t StatCpuTicks(const std::string& stat) {
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    uint64_t utime = 0, stime = 0;
    // Fields after the name start at 3 (state); utime is 14, stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) utime = std::stoull(field);
        if (index == 15) stime = std::stoull(field);
    }
    return utime + stime;
}

void ReadStatus(const std::string& path, uint64_t* switches, long* rssKiB) {
    std::ifstream in(path);
    std::string key;
    long value = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (!(fields >> key >> value)) continue;
        if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
            *switches += static_cast<uint64_t>(value);
        } else if (key == "VmRSS:" && rssKiB != nullptr) {
            *rssKiB = value;
        }
    }
}

}  // namespace

bool TakeSnapshot(pid_t pid, ProcSnapshot* out) {
    const std::string base = "/proc/" + std::to_string(pid);
    *out = ProcSnapshot();
    out->at = std::chrono::steady_clock::now();
    const std::string stat = ReadLine(base + "/stat");
    if (stat.empty()) return false;
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    out->processCpuNs =
        StatCpuTicks(stat) * (1000000000ull / static_cast<uint64_t>(ticksPerSecond));
    uint64_t ignored = 0;
    ReadStatus(base + "/status", &ignored, &out->rssKiB);
    DIR* dir = ::opendir((base + "/task").c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string tid = entry->d_name;
        if (tid == "." || tid == "..") continue;
        const std::string task = base + "/task/" + tid;
        ProcSnapshot::Thread thread;
        thread.name = ReadLine(task + "/comm");
        ReadStatus(task + "/status", &thread.switches, nullptr);
        std::istringstream sched(ReadLine(task + "/schedstat"));
        sched >> thread.runNs;
        out->threads[static_cast<pid_t>(std::stol(tid))] = thread;
    }
    ::closedir(dir);
    return true;
}

Activity Between(const ProcSnapshot& before, const ProcSnapshot& after) {
    Activity activity;
    activity.seconds = std::chrono::duration<double>(after.at - before.at).count();
    if (activity.seconds <= 0) return activity;
    uint64_t switches = 0;
    uint64_t runNs = 0;
    for (const auto& [tid, thread] : after.threads) {
        auto old = before.threads.find(tid);
        const uint64_t s0 = old == before.threads.end() ? 0 : old->second.switches;
        const uint64_t r0 = old == before.threads.end() ? 0 : old->second.runNs;
        const uint64_t ds = thread.switches >= s0 ? thread.switches - s0 : 0;
        switches += ds;
        runNs += thread.runNs >= r0 ? thread.runNs - r0 : 0;
        activity.perThread[thread.name + "/" + std::to_string(tid)] =
            static_cast<double>(ds) / activity.seconds;
    }
    // The scheduler's run time is exact where the kernel keeps it; clock ticks otherwise.
    const uint64_t cpuNs = runNs > 0 ? runNs
                                     : (after.processCpuNs >= before.processCpuNs
                                            ? after.processCpuNs - before.processCpuNs
                                            : 0);
    activity.cpuPercent = static_cast<double>(cpuNs) / 1e9 / activity.seconds * 100.0;
    activity.wakeupsPerSecond = static_cast<double>(switches) / activity.seconds;
    return activity;
}

}  // namespace orvix::bench
