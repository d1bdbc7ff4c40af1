// PLACEHOLDER until the per-user lookups land.
#include "config/lookups.h"
const std::string* kestrad_user_option(const user_option_list*, const char*) { return nullptr; }
const std::string* kestrad_get_chroot(const user_option_list*, const char*) { return nullptr; }
int64_t kestrad_get_rate(const user_option_list*, const char*) { return 0; }
int32_t kestrad_get_mode(int32_t mode, const char*, const char*) { return mode; }
