#pragma once
// Lowers the address-space limit while alive, so that a large allocation fails whatever the
// machine's overcommit policy; the old limit comes back when it goes.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>

class address_space_limit {
public:
    explicit address_space_limit(rlim_t bytes)
    {
        EXPECT_EQ(getrlimit(RLIMIT_AS, &saved_), 0);
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min(bytes, saved_.rlim_max);
        EXPECT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    }
    ~address_space_limit() { setrlimit(RLIMIT_AS, &saved_); }
    address_space_limit(const address_space_limit&) = delete;
    address_space_limit& operator=(const address_space_limit&) = delete;

private:
    rlimit saved_{};
};

// The sanitizer runtime reserves far more address space than such a limit leaves, so the
// sanitizer build cannot provoke the failure this way; the plain build does.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool address_space_limit_usable = false;
#else
inline constexpr bool address_space_limit_usable = true;
#endif

// Four gibibytes: room for the test process, none for a table of billions of slots.
inline constexpr rlim_t small_address_space = rlim_t{1} << 32;
