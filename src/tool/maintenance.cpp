// PLACEHOLDER until text user maintenance lands.
#include "tool/maintenance.h"
#include <cstdio>
int add_edit_user(const char*, int) { std::printf("Not implemented yet.\n"); return -1; }
int delete_user(const char*) { std::printf("Not implemented yet.\n"); return -1; }
std::optional<std::string> prompt_field(const char*) { return std::nullopt; }
