#include "auth/unix_backend.h"

#include "auth/account_cache.h"
#include "auth/account_source.h"
#include "auth/crypt_check.h"

#include <new>

namespace {

account_cache cache;

} // namespace

int unix_backend_init(const char*)
{
    cache.clear();
    return 0;
}

int unix_backend_check(const char* user, const char* password)
{
    cache.clear();
    if (user == nullptr)
        return -1;
    try {
        const account_source& accounts = current_accounts();
        const auto entry = accounts.find_user(user);
        if (!entry)
            return -1;
        const auto credentials = accounts.find_credentials(user);
        if (!credentials || !crypt_matches(password, credentials->hash.c_str()))
            return -1;
        if (credentials->expire != 0 && accounts.now() >= credentials->expire)
            return -1;
        cache.fill(user, *entry);
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

void unix_backend_end()
{
    cache.clear();
}

int unix_backend_is_group_member(const char* user, const char* group)
{
    return cache.is_group_member(user, group);
}

std::optional<std::string> unix_backend_get_home(const char* user)
{
    return cache.get_home(user);
}
