#pragma once
// The password test shared by the back-ends that keep a crypt hash.

// True when hashing the password with the stored hash as setting gives that hash again,
// byte for byte. A missing password, an empty or malformed stored hash never match.
[[nodiscard]] bool crypt_matches(const char* password, const char* stored_hash) noexcept;
