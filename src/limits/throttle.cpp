#include "limits/throttle.h"

#include "config/log.h"
#include "limits/throttle_clock.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>

namespace {

// The signals held back while the throttle sleeps; they stay pending and arrive afterwards.
sigset_t throttle_signals;

// Milliseconds by which the transfer is ahead of its rate, 0 when it is not ahead.
// The sums and products are formed in 128 bits, so no byte count or time overflows them;
// every division truncates towards zero.
int64_t wait_ms(int64_t bytes, timeval start, timeval now, int64_t rate)
{
    using wide = __int128;
    const wide elapsed = (wide{now.tv_sec} - start.tv_sec) * 1000 + (wide{now.tv_usec} - start.tv_usec) / 1000;
    const wide expected = wide{bytes} * 1000 / rate;
    if (expected <= elapsed)
        return 0;
    return static_cast<int64_t>(std::min<wide>(expected - elapsed, std::numeric_limits<int64_t>::max()));
}

bool change_mask(int how, const sigset_t* set, sigset_t* old)
{
    int result;
    do
        result = sigprocmask(how, set, old);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

void kestrad_throttle(int64_t bytes, timeval start, int64_t rate)
{
    // A rate of 0 means no limit; there is nothing to hold the transfer to.
    if (rate == 0)
        return;
    timeval now{};
    if (throttle_now(&now) != 0)
        return;
    const int64_t wait = wait_ms(bytes, start, now, rate);
    if (wait == 0)
        return;
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(wait / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(wait % 1000 * 1000);

    sigemptyset(&throttle_signals);
    for (const int signal : {SIGCHLD, SIGINT, SIGQUIT, SIGURG, SIGIO, SIGBUS, SIGHUP})
        sigaddset(&throttle_signals, signal);
    // The caller's own mask is put back afterwards, so a signal it had blocked stays blocked.
    sigset_t caller_mask;
    const bool blocked = change_mask(SIG_BLOCK, &throttle_signals, &caller_mask);
    if (throttle_sleep(&timeout) != 0)
        log_plain("warning: unable to throttle bandwidth: %s", std::strerror(errno));
    if (blocked)
        change_mask(SIG_SETMASK, &caller_mask, nullptr);
}
