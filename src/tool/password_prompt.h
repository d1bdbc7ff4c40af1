#pragma once
// Asks for a password without echo: the prompt and the answer go through the
// controlling terminal, or through standard error and standard input when the process
// has none.

#include "tool/secret.h"

#include <optional>

// The line typed, without its newline; none at the end of the input or on a read error.
// May throw std::bad_alloc.
[[nodiscard]] std::optional<secret> read_password(const char* prompt);
