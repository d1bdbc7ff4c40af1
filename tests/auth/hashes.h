#pragma once
// Password hashes made the way the system makes them, from fixed salts so runs repeat.

#include <crypt.h>
#include <stdexcept>
#include <string>

// prefix: "$1$" (MD5), "$5$", "$6$" (SHA-2) or "$y$" (yescrypt).
inline std::string make_hash(const char* password, const char* prefix)
{
    static const char salt_bytes[16] = {'k', 'e', 's', 't', 'r', 'a', 'd', '-',
                                        's', 'a', 'l', 't', 'b', 'y', 't', 'e'};
    const char* setting = crypt_gensalt(prefix, 0, salt_bytes, sizeof salt_bytes);
    if (setting == nullptr)
        throw std::runtime_error(std::string("no salt for ") + prefix);
    const std::string saved_setting = setting;
    const char* hash = crypt(password, saved_setting.c_str());
    if (hash == nullptr || hash[0] == '*')
        throw std::runtime_error(std::string("no hash for ") + prefix);
    return hash;
}
