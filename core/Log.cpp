#include "core/Log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace orvix {
namespace {

std::mutex gSinkMutex;
std::shared_ptr<const LogSink> gSink;

}  // namespace

void SetLogSink(LogSink sink) {
    std::shared_ptr<const LogSink> next;
    if (sink) next = std::make_shared<const LogSink>(std::move(sink));
    std::lock_guard<std::mutex> lock(gSinkMutex);
    gSink = std::move(next);
}

void Log(int priority, const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int needed = vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    std::string text;
    if (needed < 0) {
        text = format;
    } else if (static_cast<size_t>(needed) < sizeof(small)) {
        text.assign(small, static_cast<size_t>(needed));
    } else {
        // Payloads echoed into log lines can be large; format them whole rather than cut.
        std::vector<char> big(static_cast<size_t>(needed) + 1);
        vsnprintf(big.data(), big.size(), format, again);
        text.assign(big.data(), static_cast<size_t>(needed));
    }
    va_end(again);

    std::shared_ptr<const LogSink> sink;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        sink = gSink;
    }
    if (sink) {
        (*sink)(priority, text);
    } else {
        syslog(priority, "%s", text.c_str());
    }
}

}  // namespace orvix
