// The daemon's one way to log. Lines go to syslog unless a test installed a sink of its own.
#pragma once

#include <functional>
#include <string>

namespace orvix {

// Receives each formatted line with its syslog priority (LOG_ERR, LOG_INFO...).
using LogSink = std::function<void(int priority, const std::string& text)>;

// Installs sink (an empty function restores syslog). Safe from any thread.
void SetLogSink(LogSink sink);

void Log(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace orvix
