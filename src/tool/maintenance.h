#pragma once
// Interactive maintenance of the text user file: add, edit and delete.

#include <optional>
#include <string>

// Adds (adding 1) or edits (adding 0) a virtual user after asking for its fields. 0 or -1.
[[nodiscard]] int add_edit_user(const char* name, int adding);
// Removes a virtual user's lines. 0 or -1.
[[nodiscard]] int delete_user(const char* name);
// Prints the prompt and reads one line without ':' or '#', trimmed; absent at end of input.
[[nodiscard]] std::optional<std::string> prompt_field(const char* prompt);
