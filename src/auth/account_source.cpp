#include "auth/account_source.h"

#include <grp.h>
#include <limits>
#include <pwd.h>
#include <shadow.h>
#include <string.h>
#include <utility>

namespace {

constexpr time_t seconds_per_day = time_t{24} * 60 * 60;

// The shadow file counts in days, and an empty field (-1) or 0 means never. A day too far
// to count in seconds is as good as never reached, but must not wrap round to the past.
time_t expiry_seconds(long days)
{
    if (days <= 0)
        return 0;
    if (days > std::numeric_limits<time_t>::max() / seconds_per_day)
        return std::numeric_limits<time_t>::max();
    return static_cast<time_t>(days) * seconds_per_day;
}

class system_accounts final : public account_source {
public:
    std::optional<account_entry> find_user(const char* name) const override
    {
        const passwd* entry = getpwnam(name);
        if (entry == nullptr)
            return std::nullopt;
        account_entry result;
        result.uid = entry->pw_uid;
        result.gid = entry->pw_gid;
        if (entry->pw_dir != nullptr)
            result.home = entry->pw_dir;
        return result;
    }

    // Linux keeps the hash and the expiry in the shadow database; an account without a
    // shadow entry has its hash in the password database and never expires.
    std::optional<account_credentials> find_credentials(const char* name) const override
    {
        if (const spwd* shadow = getspnam(name); shadow != nullptr) {
            return account_credentials(shadow->sp_pwdp != nullptr ? shadow->sp_pwdp : "",
                                       expiry_seconds(shadow->sp_expire));
        }
        const passwd* entry = getpwnam(name);
        if (entry == nullptr)
            return std::nullopt;
        return account_credentials(entry->pw_passwd != nullptr ? entry->pw_passwd : "", 0);
    }

    std::optional<group_entry> find_group(const char* name) const override
    {
        const group* entry = getgrnam(name);
        if (entry == nullptr)
            return std::nullopt;
        group_entry result;
        result.gid = entry->gr_gid;
        for (char* const* member = entry->gr_mem; member != nullptr && *member != nullptr; ++member)
            result.members.emplace_back(*member);
        return result;
    }

    time_t now() const override { return time(nullptr); }
};

const system_accounts system_source;
const account_source* installed = nullptr;

} // namespace

account_credentials::account_credentials(std::string stored_hash, time_t expiry)
    : hash(std::move(stored_hash)), expire(expiry)
{
}

account_credentials::~account_credentials()
{
    explicit_bzero(hash.data(), hash.size());
}

const account_source& current_accounts()
{
    return installed != nullptr ? *installed : system_source;
}

void install_accounts(const account_source* source)
{
    installed = source;
}
