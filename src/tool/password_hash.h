#pragma once
// Hashing of a new password with crypt.

#include "tool/secret.h"

#include <optional>
#include <string>

// The hash that crypt gives for the password and the setting; none when crypt fails.
// May throw std::bad_alloc.
[[nodiscard]] std::optional<std::string> hash_password(const secret& password, const std::string& setting);
