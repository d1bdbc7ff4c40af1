#pragma once
// The "unix" method: passwords of the system password database, groups of the system
// group database, and a cache of the last account accepted.

#include <optional>
#include <string>

int unix_backend_init(const char* config);
int unix_backend_check(const char* user, const char* password);
void unix_backend_end();
int unix_backend_is_group_member(const char* user, const char* group);
std::optional<std::string> unix_backend_get_home(const char* user);
