#pragma once
// Accounts, groups and a clock of the test's own, served to the back-ends for the life of
// the object. Every database read is counted, so a test can show that an answer came from
// a cache.

#include "auth/account_source.h"

#include <map>
#include <string>
#include <vector>

struct fake_user {
    std::string hash;
    uid_t uid = 0;
    gid_t gid = 0;
    std::optional<std::string> home;
    time_t expire = 0;
};

class fake_accounts final : public account_source {
public:
    fake_accounts() { install_accounts(this); }
    ~fake_accounts() override { install_accounts(nullptr); }
    fake_accounts(const fake_accounts&) = delete;
    fake_accounts& operator=(const fake_accounts&) = delete;

    std::map<std::string, fake_user> users;
    std::map<std::string, group_entry> groups;
    time_t clock = 1'700'000'000;
    mutable int reads = 0;

    std::optional<account_entry> find_user(const char* name) const override
    {
        ++reads;
        const auto found = users.find(name);
        if (found == users.end())
            return std::nullopt;
        return account_entry{found->second.uid, found->second.gid, found->second.home};
    }

    std::optional<account_credentials> find_credentials(const char* name) const override
    {
        ++reads;
        const auto found = users.find(name);
        if (found == users.end())
            return std::nullopt;
        return account_credentials(found->second.hash, found->second.expire);
    }

    std::optional<group_entry> find_group(const char* name) const override
    {
        ++reads;
        const auto found = groups.find(name);
        if (found == groups.end())
            return std::nullopt;
        return found->second;
    }

    time_t now() const override { return clock; }
};
