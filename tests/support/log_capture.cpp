#include "support/log_capture.h"

#include "config/log.h"

log_capture::log_capture()
{
    set_log_sink([this](const std::string& message) { lines_.push_back(message); });
}

log_capture::~log_capture()
{
    set_log_sink({});
}
