#include "limits/throttle.h"

#include "limits/throttle_clock.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::vector<int> held_signals = {SIGCHLD, SIGINT, SIGQUIT, SIGURG, SIGIO, SIGBUS, SIGHUP};

std::vector<int> blocked_signals()
{
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    std::vector<int> out;
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigismember(&mask, signal) == 1)
            out.push_back(signal);
    return out;
}

void change_signals(int how, const std::vector<int>& signals)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals)
        sigaddset(&set, signal);
    ASSERT_EQ(sigprocmask(how, &set, nullptr), 0);
}

volatile sig_atomic_t delivered[NSIG];

void count_delivery(int signal)
{
    delivered[signal] = delivered[signal] + 1;
}

// Counts deliveries of one signal while alive, then puts the old disposition back.
class counting_handler {
public:
    explicit counting_handler(int signal) : signal_(signal)
    {
        delivered[signal] = 0;
        struct sigaction action{};
        action.sa_handler = count_delivery;
        sigemptyset(&action.sa_mask);
        EXPECT_EQ(sigaction(signal, &action, &saved_), 0);
    }
    ~counting_handler() { sigaction(signal_, &saved_, nullptr); }
    counting_handler(const counting_handler&) = delete;
    counting_handler& operator=(const counting_handler&) = delete;

private:
    int signal_;
    struct sigaction saved_{};
};

// Replaces the clock and the sleep: the clock gives `now`, the sleep records its timeout and
// the mask in force, runs `during_sleep`, and fails with `sleep_errno` when that is set.
class ThrottleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sigprocmask(SIG_BLOCK, nullptr, &saved_mask_);
        set_throttle_clock([this](timeval* out) {
            *out = now;
            return 0;
        });
        set_throttle_sleeper([this](timeval* timeout) {
            timeouts.push_back(*timeout);
            mask_while_sleeping = blocked_signals();
            if (during_sleep)
                during_sleep();
            if (sleep_errno == 0)
                return 0;
            errno = sleep_errno;
            return -1;
        });
    }
    void TearDown() override
    {
        set_throttle_clock({});
        set_throttle_sleeper({});
        sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
    }

    // Ten kilobytes at 1024 bytes a second, four and a half seconds in: five and a half to wait.
    void throttle_ahead()
    {
        now = {104, 500000};
        kestrad_throttle(10240, {100, 0}, 1024);
    }

    timeval now{};
    std::vector<timeval> timeouts;
    std::vector<int> mask_while_sleeping;
    std::function<void()> during_sleep;
    int sleep_errno = 0;

private:
    sigset_t saved_mask_{};
};

struct Case {
    const char* name;
    int64_t bytes;
    timeval start;
    timeval now;
    int64_t rate;
    std::optional<timeval> timeout; // none: returns without sleeping
};

TEST_F(ThrottleTest, SleepsForTheWholeMillisecondsAheadOfTheRate)
{
    const Case cases[] = {
        {"worked example", 10240, {100, 0}, {104, 500000}, 1024, timeval{5, 500000}},
        {"exactly on the rate", 1000, {100, 0}, {101, 0}, 1000, std::nullopt},
        {"behind the rate", 500, {100, 0}, {101, 0}, 1000, std::nullopt},
        {"no bytes yet", 0, {100, 0}, {100, 1000}, 1000, std::nullopt},
        {"no bytes, no time", 0, {100, 0}, {100, 0}, 1000, std::nullopt},
        {"ahead by less than a millisecond", 3002, {100, 0}, {101, 0}, 3000, std::nullopt},
        {"elapsed time truncated to whole milliseconds", 1000, {100, 0}, {100, 999999}, 1000, timeval{0, 1000}},
        {"wait of 999 ms", 1999, {100, 0}, {101, 0}, 1000, timeval{0, 999000}},
        {"wait of 1000 ms", 2000, {100, 0}, {101, 0}, 1000, timeval{1, 0}},
        {"expected time kept to the millisecond", 1999, {100, 0}, {100, 0}, 1000, timeval{1, 999000}},
        {"microseconds borrow from the seconds", 1000, {10, 900000}, {11, 100000}, 1000, timeval{0, 800000}},
        {"negative microsecond part truncates towards zero", 2, {10, 999500}, {11, 0}, 1000, timeval{0, 1000}},
        {"byte count beyond 64-bit milliseconds", 100000000000000000, {100, 0}, {100, 0}, 100000000000000000,
         timeval{1, 0}},
        {"negative rate", 5000, {100, 0}, {100, 0}, -1000, std::nullopt},
        {"rate of 0", 5000, {100, 0}, {100, 0}, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timeouts.clear();
        now = c.now;
        kestrad_throttle(c.bytes, c.start, c.rate);
        if (!c.timeout) {
            EXPECT_TRUE(timeouts.empty());
            continue;
        }
        ASSERT_EQ(timeouts.size(), 1u);
        EXPECT_EQ(timeouts[0].tv_sec, c.timeout->tv_sec);
        EXPECT_EQ(timeouts[0].tv_usec, c.timeout->tv_usec);
    }
}

TEST_F(ThrottleTest, ReturningAtOnceLeavesTheMaskAlone)
{
    change_signals(SIG_BLOCK, {SIGHUP, SIGUSR1});
    const std::vector<int> before = blocked_signals();
    now = {101, 0};
    kestrad_throttle(1000, {100, 0}, 1000);
    EXPECT_TRUE(timeouts.empty());
    EXPECT_EQ(blocked_signals(), before);
}

TEST_F(ThrottleTest, HoldsTheSevenSignalsOnlyWhileSleeping)
{
    change_signals(SIG_SETMASK, {SIGUSR1});
    throttle_ahead();
    ASSERT_EQ(timeouts.size(), 1u);
    std::vector<int> expected = held_signals;
    expected.push_back(SIGUSR1);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(mask_while_sleeping, expected);
    EXPECT_EQ(blocked_signals(), std::vector<int>{SIGUSR1});
}

TEST_F(ThrottleTest, CallersBlockedSignalStaysBlockedAndOthersArriveAfterTheSleep)
{
    const counting_handler hup(SIGHUP);
    const counting_handler urg(SIGURG);
    change_signals(SIG_SETMASK, {SIGHUP});
    sig_atomic_t urg_during_sleep = -1;
    during_sleep = [&] {
        raise(SIGHUP);
        raise(SIGURG);
        urg_during_sleep = delivered[SIGURG];
    };
    throttle_ahead();

    const sig_atomic_t urg_after = delivered[SIGURG];
    const sig_atomic_t hup_after = delivered[SIGHUP];
    const std::vector<int> mask_after = blocked_signals();
    sigset_t pending;
    sigpending(&pending);
    const bool hup_pending = sigismember(&pending, SIGHUP) == 1;
    // Let the held SIGHUP reach the counting handler before the old disposition returns.
    change_signals(SIG_UNBLOCK, {SIGHUP});

    EXPECT_EQ(urg_during_sleep, 0) << "SIGURG arrived during the sleep";
    EXPECT_EQ(urg_after, 1) << "SIGURG was not delivered after the sleep";
    EXPECT_EQ(hup_after, 0) << "the caller's blocked SIGHUP was let through";
    EXPECT_TRUE(hup_pending);
    EXPECT_EQ(mask_after, std::vector<int>{SIGHUP});
    EXPECT_EQ(delivered[SIGHUP], 1);
}

TEST_F(ThrottleTest, FailedSleepIsReportedAndTheMaskComesBack)
{
    change_signals(SIG_SETMASK, {SIGINT});
    {
        log_capture log;
        throttle_ahead();
        EXPECT_TRUE(log.lines().empty());
    }
    log_capture log;
    sleep_errno = EINTR;
    throttle_ahead();
    EXPECT_EQ(timeouts.size(), 2u) << "a failed sleep is not repeated";
    EXPECT_EQ(log.lines(), std::vector<std::string>{"warning: unable to throttle bandwidth: Interrupted system call"});
    EXPECT_EQ(blocked_signals(), std::vector<int>{SIGINT});
}

TEST_F(ThrottleTest, RealSleepLastsUntilTheTransferIsBackOnRate)
{
    set_throttle_clock({});
    set_throttle_sleeper({});
    timeval start{};
    ASSERT_EQ(gettimeofday(&start, nullptr), 0);
    kestrad_throttle(30, start, 1000); // 30 bytes at 1000 a second: 30 ms
    timeval end{};
    ASSERT_EQ(gettimeofday(&end, nullptr), 0);
    const int64_t elapsed_us = (int64_t{end.tv_sec} - start.tv_sec) * 1000000 + (end.tv_usec - start.tv_usec);
    EXPECT_GE(elapsed_us, 30000);
    EXPECT_LT(elapsed_us, 2000000);
}

} // namespace
