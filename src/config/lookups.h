#pragma once
// Which value of a per-user setting applies to one user.

#include "config/param.h"

#include <cstdint>

// Value of the last matching line of the file (first matching node), owned by the list.
[[nodiscard]] const std::string* kestrad_user_option(const user_option_list* list, const char* user);
[[nodiscard]] const std::string* kestrad_get_chroot(const user_option_list* list, const char* user);
// Bytes per second; 0 when no line applies (no limit).
[[nodiscard]] int64_t kestrad_get_rate(const user_option_list* list, const char* user);
// The user's mode: the default, or the other one for a user in the exception list.
[[nodiscard]] int32_t kestrad_get_mode(int32_t mode, const char* list, const char* user);
