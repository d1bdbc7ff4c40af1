#pragma once
// What the text user database reports to the system log, and under which source name.

#include <string>

inline constexpr const char* textuser_source = "textuser.c";

// A file that the rewrite needs (its working file or its lock) could not be opened.
void log_rewrite_open_failure(const std::string& name, int error);
// Reading the old file, writing the new one or putting it in place failed.
void log_rewrite_failure(const char* path, int error);
