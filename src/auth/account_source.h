#pragma once
// The system's account databases and its clock, behind one seam so that tests can serve
// accounts and a time of their own. Where the platform keeps the password hash and the
// expiry apart from the password database, the system source reads them from there.

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct account_entry {
    uid_t uid = 0;
    gid_t gid = 0;
    std::optional<std::string> home; // absent when the database gives none
};

// What a password check needs beyond the entry. The hash is wiped when the record goes.
struct account_credentials {
    std::string hash;
    time_t expire = 0; // seconds since the epoch; 0 never expires

    account_credentials() = default;
    account_credentials(std::string stored_hash, time_t expiry);
    account_credentials(const account_credentials&) = default;
    account_credentials(account_credentials&&) = default;
    account_credentials& operator=(const account_credentials&) = default;
    account_credentials& operator=(account_credentials&&) = default;
    ~account_credentials();
};

struct group_entry {
    gid_t gid = 0;
    std::vector<std::string> members;
};

class account_source {
public:
    virtual ~account_source() = default;
    // Absent when the database does not know the name. May throw std::bad_alloc.
    virtual std::optional<account_entry> find_user(const char* name) const = 0;
    virtual std::optional<account_credentials> find_credentials(const char* name) const = 0;
    virtual std::optional<group_entry> find_group(const char* name) const = 0;
    virtual time_t now() const = 0;
};

// The source every back-end reads: the system's, unless a test installed its own.
const account_source& current_accounts();
// The source must outlive its use; nullptr puts the system's back.
void install_accounts(const account_source* source);
