#pragma once
// The text file of virtual users: one "name:group:home:hash" line per user.

#include <optional>
#include <string>

struct text_user {
    std::optional<std::string> name;
    std::optional<std::string> group;
    std::optional<std::string> home;
    std::optional<std::string> hash;
};

// Fills the record from the first complete line of the user: 0 found, -1 otherwise
// (the record is then empty).
[[nodiscard]] int kestrad_textuser_get(const char* path, const char* name, text_user* user);
// Empties the record; safe on an empty record and more than once.
void kestrad_textuser_free(text_user* user);
// Replaces the user's line with the record, appends it, or (no record) removes the
// user's lines, by writing a new file and renaming it over the old one. 0 or -1; on -1
// the old file is as it was. Rewrites of one file take turns on PATH.lock, which stays.
[[nodiscard]] int kestrad_textuser_put(const char* path, const char* name, const text_user* user);
