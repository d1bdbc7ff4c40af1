#include "auth/account_cache.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

std::optional<std::string> copy_of(const char* text) noexcept
{
    try {
        return std::string(text);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::string> copy_of(const std::optional<std::string>& text) noexcept
{
    if (!text)
        return std::nullopt;
    return copy_of(text->c_str());
}

} // namespace

void account_cache::clear() noexcept
{
    user_name.reset();
    home.reset();
    uid = static_cast<uid_t>(-1);
    gid = static_cast<gid_t>(-1);
}

void account_cache::fill(const char* user, const account_entry& entry) noexcept
{
    user_name = copy_of(user);
    home = copy_of(entry.home);
    uid = entry.uid;
    gid = entry.gid;
}

bool account_cache::holds(const char* user) const noexcept
{
    return user_name && std::strcmp(user_name->c_str(), user) == 0;
}

int account_cache::is_group_member(const char* user, const char* group) const noexcept
{
    if (user == nullptr || group == nullptr)
        return 0;
    try {
        gid_t primary = gid;
        if (!holds(user) || gid == static_cast<gid_t>(-1)) {
            const auto entry = current_accounts().find_user(user);
            if (!entry)
                return 0;
            primary = entry->gid;
        }
        const auto found = current_accounts().find_group(group);
        if (!found)
            return 0;
        if (primary == found->gid)
            return 1;
        return std::find(found->members.begin(), found->members.end(), user) != found->members.end() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

std::optional<std::string> account_cache::get_home(const char* user) const noexcept
{
    if (user == nullptr)
        return std::nullopt;
    if (holds(user) && home)
        return copy_of(home);
    try {
        const auto entry = current_accounts().find_user(user);
        if (!entry)
            return std::nullopt;
        return copy_of(entry->home);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}
