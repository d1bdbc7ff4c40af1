#include "config/log.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <syslog.h>

namespace {

log_sink& current_sink()
{
    static log_sink sink;
    return sink;
}

void append_formatted(std::string& out, const char* fmt, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (length <= 0)
        return;
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<size_t>(length) + 1, fmt, args);
    out.resize(start + static_cast<size_t>(length));
}

void deliver(const std::string& message)
{
    if (current_sink())
        current_sink()(message);
    else
        syslog(LOG_ERR, "%s", message.c_str());
}

} // namespace

void set_log_sink(log_sink sink)
{
    current_sink() = std::move(sink);
}

void log_error(const char* file, int line, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    try {
        std::string message = file;
        message += " (" + std::to_string(line) + ") ";
        append_formatted(message, fmt, args);
        deliver(message);
    } catch (const std::bad_alloc&) {
        // Logging must never be the thing that fails an operation.
    }
    va_end(args);
}

void log_plain(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    try {
        std::string message;
        append_formatted(message, fmt, args);
        deliver(message);
    } catch (const std::bad_alloc&) {
    }
    va_end(args);
}
