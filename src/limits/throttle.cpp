// PLACEHOLDER until the throttle lands.
#include "limits/throttle.h"
void kestrad_throttle(int64_t, timeval, int64_t) {}
