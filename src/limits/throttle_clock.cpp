#include "limits/throttle_clock.h"

#include <sys/select.h>
#include <utility>

namespace {

throttle_clock& clock_override()
{
    static throttle_clock clock;
    return clock;
}

throttle_sleeper& sleeper_override()
{
    static throttle_sleeper sleeper;
    return sleeper;
}

} // namespace

void set_throttle_clock(throttle_clock clock)
{
    clock_override() = std::move(clock);
}

void set_throttle_sleeper(throttle_sleeper sleeper)
{
    sleeper_override() = std::move(sleeper);
}

int throttle_now(timeval* now)
{
    if (clock_override())
        return clock_override()(now);
    return gettimeofday(now, nullptr);
}

int throttle_sleep(timeval* timeout)
{
    if (sleeper_override())
        return sleeper_override()(timeout);
    return select(0, nullptr, nullptr, nullptr, timeout);
}
