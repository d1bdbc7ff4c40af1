#pragma once
// crypt, for the back-ends that keep a hash and for the tool that makes one.

#include <optional>
#include <string>

// What crypt gives for the password with the setting, computed in a work area that is
// wiped afterwards; none when crypt fails (no result, or a failure token starting with
// '*', which no valid hash does). May throw std::bad_alloc.
[[nodiscard]] std::optional<std::string> crypt_with_setting(const char* password, const char* setting);

// True when hashing the password with the stored hash as setting gives that hash again,
// byte for byte. A missing password, an empty or malformed stored hash never match.
[[nodiscard]] bool crypt_matches(const char* password, const char* stored_hash) noexcept;
