#include "textuser/textuser_log.h"

#include "config/log.h"

#include <cstring>

void log_rewrite_open_failure(const std::string& name, int error)
{
    log_error(textuser_source, 194, "Failed to open %s.(%s)", name.c_str(), std::strerror(error));
}

void log_rewrite_failure(const char* path, int error)
{
    log_error(textuser_source, 240, "%s: %s", path, std::strerror(error));
}
