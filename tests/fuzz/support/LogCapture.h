// The daemon's log lines for fuzz targets: kept in memory instead of going to syslog, and
// cleared with every input so that a long run does not grow. With ORVIX_FUZZ_LOG set they
// are also printed, which is how a saved crash input is looked at.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "core/Log.h"

namespace orvix::fuzz {

struct LogLine {
    int priority;
    std::string text;
};

class LogCapture {
public:
    LogCapture() {
        const bool print = std::getenv("ORVIX_FUZZ_LOG") != nullptr;
        orvix::SetLogSink([this, print](int priority, const std::string& text) {
            if (print) std::fprintf(stderr, "<%d> %s\n", priority, text.c_str());
            std::lock_guard<std::mutex> lock(mLock);
            mLines.push_back({priority, text});
        });
    }
    ~LogCapture() { orvix::SetLogSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(mLock);
        return mLines;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mLock);
        mLines.clear();
    }
    // Lines that start with prefix at priority.
    size_t count(const std::string& prefix, int priority) const {
        std::lock_guard<std::mutex> lock(mLock);
        size_t n = 0;
        for (const LogLine& line : mLines) {
            if (line.priority == priority && line.text.compare(0, prefix.size(), prefix) == 0) {
                ++n;
            }
        }
        return n;
    }

private:
    mutable std::mutex mLock;
    std::vector<LogLine> mLines;
};

}  // namespace orvix::fuzz
