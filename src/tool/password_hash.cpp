#include "tool/password_hash.h"

#include "auth/crypt_check.h"

std::optional<std::string> hash_password(const secret& password, const std::string& setting)
{
    // A failure stored as a hash would lock the user out while reporting success.
    return crypt_with_setting(password.c_str(), setting.c_str());
}
