#pragma once
// The "text" method: virtual users of the text user file whose path is the method's
// configuration. The user found by the last check stays cached, without its hash.

#include <optional>
#include <string>

int text_backend_init(const char* config);
int text_backend_check(const char* user, const char* password);
void text_backend_end();
int text_backend_is_group_member(const char* user, const char* group);
std::optional<std::string> text_backend_get_home(const char* user);
