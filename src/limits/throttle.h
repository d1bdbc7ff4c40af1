#pragma once
// Holds a transfer to a rate in bytes per second.

#include <cstdint>
#include <sys/time.h>

// Sleeps for as long as a transfer of `bytes` since `start` is ahead of `rate` (> 0).
void kestrad_throttle(int64_t bytes, timeval start, int64_t rate);
