#pragma once
// How a line of the text user file is read: the one rule that both the lookup and the
// rewrite use to tell which lines belong to a user.

#include <string_view>

enum class line_kind {
    skipped, // blank, or a comment
    invalid, // no ':' at all
    user,    // a name field, then the rest of the line
};

struct user_line {
    line_kind kind = line_kind::skipped;
    std::string_view name; // trimmed
    std::string_view rest; // everything after the first ':', untrimmed
};

// Classifies one piece of the file. A NUL byte ends the line, as it ends a C string.
user_line read_user_line(std::string_view piece) noexcept;

// Whether the piece is a line of that user (name compared exactly, case included).
bool is_line_of(std::string_view piece, std::string_view name) noexcept;

// The group, home and hash of a user line's rest; false when the second or third
// ':' is missing (which one is reported through missing_colon: 2 or 3).
struct user_fields {
    std::string_view group;
    std::string_view home;
    std::string_view hash;
};
bool split_fields(std::string_view rest, user_fields& fields, int& missing_colon) noexcept;
