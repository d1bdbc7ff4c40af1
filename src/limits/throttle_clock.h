#pragma once
// The two places where the throttle touches the world: reading the clock and sleeping.
// Tests put their own in place so the throttle's arithmetic runs without waiting.

#include <functional>
#include <sys/time.h>

// Reads the time as gettimeofday does: 0, or -1 with errno set.
using throttle_clock = std::function<int(timeval* now)>;
// Waits out the timeout as select without descriptors does: 0, or -1 with errno set.
using throttle_sleeper = std::function<int(timeval* timeout)>;

// An empty function puts the system's own clock or sleep back.
void set_throttle_clock(throttle_clock clock);
void set_throttle_sleeper(throttle_sleeper sleeper);

[[nodiscard]] int throttle_now(timeval* now);
[[nodiscard]] int throttle_sleep(timeval* timeout);
