// PLACEHOLDER until the registry lands: no method is ever usable.
#include "auth/auth.h"
int kestrad_auth_init_config(const char*, const char*) { return 0; }
int kestrad_auth_check(const char*, const char*) { return -1; }
void kestrad_auth_end() {}
int kestrad_auth_is_group_member(const char*, const char*) { return 0; }
std::optional<std::string> kestrad_auth_get_home(const char*) { return std::nullopt; }
