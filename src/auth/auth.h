#pragma once
// The authentication registry: selects one method by name and forwards every
// authentication question of the rest of the system to it.

#include <optional>
#include <string>

struct auth_method {
    const char* name;
    int (*init)(const char* config);
    int (*check)(const char* user, const char* password);
    void (*end)();
    int (*is_group_member)(const char* user, const char* group);
    std::optional<std::string> (*get_home)(const char* user);
};

// 0 when a method of that name (any case) was selected and initialised; -1 otherwise.
[[nodiscard]] int kestrad_auth_init_config(const char* method, const char* config);
// 0 accepted; -1 refused or no usable method.
[[nodiscard]] int kestrad_auth_check(const char* user, const char* password);
void kestrad_auth_end();
// 1 member; 0 not a member or no usable method.
[[nodiscard]] int kestrad_auth_is_group_member(const char* user, const char* group);
// The user's home directory; absent when unknown or no usable method.
std::optional<std::string> kestrad_auth_get_home(const char* user);
