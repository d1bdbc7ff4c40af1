#pragma once
// Line reader of the main configuration file and the text routines every file parser shares.

#include <optional>
#include <string>
#include <string_view>

// Size of every line buffer: at most 2047 characters arrive per read.
inline constexpr int kestrad_line_size = 2048;

using conf_callback = int (*)(const char* key, char* value);

// Reads the file line by line and hands each key and value to the callback.
// Returns 0 when every line was handled, -1 on the first failure.
[[nodiscard]] int kestrad_read_conf(const char* path, conf_callback callback);

// White space as the "C" locale's isspace has it, spelled out so that no locale can
// change it: blank, tab, newline, vertical tab, form feed, carriage return.
constexpr bool is_white_space(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
// The blank of the configuration files' own scanning: space and tab only.
constexpr bool is_blank(char c) noexcept
{
    return c == ' ' || c == '\t';
}
// The text without white space at either end: a view into the same characters.
std::string_view trim_view(std::string_view text) noexcept;

// In-place trimming of white space ("C" locale isspace); returns the buffer passed in.
char* kestrad_trim(char* text);
// As kestrad_trim, then removes one pair of surrounding double or single quotes.
char* kestrad_trim_quotes(char* text);
// A new text with every double quote written twice; absent when memory runs out.
std::optional<std::string> kestrad_double_quotes(const char* text);

// 1 when an entry of the comma-separated list names the user, or a group of the user
// written as '@' and the group name; 0 otherwise.
[[nodiscard]] int kestrad_in_list(const char* user, const char* list);
