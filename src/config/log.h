#pragma once
// The one way the shared modules report to the system log: every message goes out
// at LOG_ERR, either with the "file (line) " prefix or as it stands.

#include <functional>
#include <string>

void log_error(const char* file, int line, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void log_plain(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Tests replace the system log with a sink of their own; an empty function restores syslog.
using log_sink = std::function<void(const std::string& message)>;
void set_log_sink(log_sink sink);
