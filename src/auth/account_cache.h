#pragma once
// The account that the "unix" or "pam" back-end accepted last, so that the group and home
// questions that follow a check need no further lookup; and the answers to those questions.

#include "auth/account_source.h"

#include <optional>
#include <string>
#include <sys/types.h>

struct account_cache {
    std::optional<std::string> user_name;
    std::optional<std::string> home;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);

    void clear() noexcept;
    // Copies that cannot be made for lack of memory stay absent; the IDs are always kept.
    void fill(const char* user, const account_entry& entry) noexcept;

    // 1 when the user's primary group is the group or the group lists the user; else 0.
    [[nodiscard]] int is_group_member(const char* user, const char* group) const noexcept;
    // The user's home directory: from the cache for the cached user, else from the database.
    [[nodiscard]] std::optional<std::string> get_home(const char* user) const noexcept;

private:
    bool holds(const char* user) const noexcept;
};
