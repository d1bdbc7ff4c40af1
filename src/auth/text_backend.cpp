#include "auth/text_backend.h"

#include "auth/crypt_check.h"
#include "textuser/textuser.h"

#include <new>
#include <string.h>

namespace {

std::optional<std::string> user_file;
text_user cached;

// A record of its own for a user other than the cached one, released on every way out.
struct looked_up_user {
    text_user record;
    looked_up_user() = default;
    looked_up_user(const looked_up_user&) = delete;
    looked_up_user& operator=(const looked_up_user&) = delete;
    ~looked_up_user() { kestrad_textuser_free(&record); }
};

// 0 when the user was found in the file; without a path nothing is ever found.
int look_up(const char* user, text_user* record)
{
    if (!user_file || user == nullptr)
        return -1;
    return kestrad_textuser_get(user_file->c_str(), user, record);
}

bool is_cached(const char* user)
{
    return cached.name && *cached.name == user;
}

void forget_hash()
{
    if (cached.hash)
        explicit_bzero(cached.hash->data(), cached.hash->size());
    cached.hash.reset();
}

} // namespace

int text_backend_init(const char* config)
{
    if (config == nullptr)
        return -1;
    try {
        user_file = config;
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int text_backend_check(const char* user, const char* password)
{
    kestrad_textuser_free(&cached);
    if (look_up(user, &cached) != 0)
        return -1;
    const bool accepted = cached.hash && crypt_matches(password, cached.hash->c_str());
    forget_hash();
    return accepted ? 0 : -1;
}

void text_backend_end()
{
    user_file.reset();
    kestrad_textuser_free(&cached);
}

int text_backend_is_group_member(const char* user, const char* group)
{
    if (user == nullptr || group == nullptr)
        return 0;
    if (cached.name && cached.group && is_cached(user))
        return *cached.group == group ? 1 : 0;
    looked_up_user found;
    if (look_up(user, &found.record) != 0)
        return 0;
    return found.record.group && *found.record.group == group ? 1 : 0;
}

std::optional<std::string> text_backend_get_home(const char* user)
{
    if (user == nullptr)
        return std::nullopt;
    try {
        if (cached.home && is_cached(user))
            return *cached.home;
        looked_up_user found;
        if (look_up(user, &found.record) != 0)
            return std::nullopt;
        return found.record.home;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}
