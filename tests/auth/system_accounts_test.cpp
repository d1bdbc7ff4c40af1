// The system's account databases, served from files of the test's own by nss_wrapper:
// passwd and group entries, and the shadow entries that hold hash and expiry on Linux.

#include "auth/account_source.h"
#include "auth/hashes.h"
#include "auth/unix_backend.h"
#include "auth/wrapped_files.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

constexpr long day = 86'400;

class SystemAccounts : public testing::Test {
protected:
    void SetUp() override
    {
        if (!running_stack("accounts"))
            GTEST_SKIP() << "runs only with the account files of its test registration";
        const long today = static_cast<long>(std::time(nullptr)) / day;
        const std::string secret = make_hash("secret", "$6$");
        rewrite(wrapped_path("NSS_WRAPPER_PASSWD"),
                "alice:x:1000:100:Alice:/home/alice:/bin/sh\n"
                "bob:" + make_hash("hunter2", "$1$") + ":1001:200:Bob:/home/bob:/bin/sh\n"
                "carol:x:1002:100::/home/carol:/bin/sh\n"
                "dave:x:1003:100::/home/dave:/bin/sh\n"
                "erin:x:1004:100::/home/erin:/bin/sh\n"
                "frank:x:1005:100::/home/frank:/bin/sh\n"
                "gina:x:1006:100::/home/gina:/bin/sh\n");
        rewrite(wrapped_path("NSS_WRAPPER_GROUP"),
                "staff:x:100:\n"
                "guests:x:200:\n"
                "devs:x:300:bob,Alice\n");
        rewrite(wrapped_path("NSS_WRAPPER_SHADOW"),
                "alice:" + secret + ":19000:0:99999:7:::\n"
                "carol:" + secret + ":19000:0:99999:7::" + std::to_string(today) + ":\n"
                "dave:" + secret + ":19000:0:99999:7::" + std::to_string(today + 1) + ":\n"
                "erin:" + secret + ":19000:0:99999:7::1:\n"
                "frank:" + secret + ":19000:0:99999:7::0:\n"
                "gina:!" + secret + ":19000:0:99999:7:::\n");
        ASSERT_EQ(unix_backend_init(nullptr), 0);
    }
    void TearDown() override { unix_backend_end(); }
};

TEST_F(SystemAccounts, ChecksPasswordsWithTheShadowDatabase)
{
    struct Case {
        const char* user;
        const char* password;
        int expected;
        const char* why;
    };
    const Case cases[] = {
        {"alice", "secret", 0, "hash in the shadow entry"},
        {"alice", "x", -1, "the password database's placeholder is no password"},
        {"alice", "wrong", -1, "wrong password"},
        {"bob", "hunter2", 0, "no shadow entry: the hash of the password database"},
        {"carol", "secret", -1, "expired at the start of today"},
        {"dave", "secret", 0, "expires tomorrow"},
        {"erin", "secret", -1, "expired in 1970"},
        {"frank", "secret", 0, "an expiry of 0 never expires"},
        {"gina", "secret", -1, "locked"},
        {"nobody", "secret", -1, "no such account"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + ": " + c.why);
        EXPECT_EQ(unix_backend_check(c.user, c.password), c.expected);
    }
}

TEST_F(SystemAccounts, ReadsExpiryInDaysAndTheHomeAndGroups)
{
    const auto credentials = current_accounts().find_credentials("dave");
    ASSERT_TRUE(credentials);
    EXPECT_EQ(credentials->expire, (std::time(nullptr) / day + 1) * day);
    EXPECT_EQ(current_accounts().find_credentials("alice")->expire, 0);

    const auto alice = current_accounts().find_user("alice");
    ASSERT_TRUE(alice);
    EXPECT_EQ(alice->uid, 1000u);
    EXPECT_EQ(alice->gid, 100u);
    EXPECT_EQ(alice->home, "/home/alice");

    EXPECT_EQ(unix_backend_is_group_member("alice", "staff"), 1);
    EXPECT_EQ(unix_backend_is_group_member("bob", "devs"), 1);
    EXPECT_EQ(unix_backend_is_group_member("alice", "devs"), 0);
    EXPECT_EQ(unix_backend_is_group_member("bob", "staff"), 0);
    EXPECT_EQ(unix_backend_get_home("bob"), "/home/bob");
    EXPECT_EQ(unix_backend_get_home("nobody"), std::nullopt);
}

TEST_F(SystemAccounts, TheAcceptedAccountOutlivesAChangedDatabase)
{
    ASSERT_EQ(unix_backend_check("alice", "secret"), 0);
    rewrite(wrapped_path("NSS_WRAPPER_PASSWD"),
            "alice:x:1000:200:Alice:/elsewhere/alice:/bin/sh\n"
            "bob:x:1001:200:Bob:/elsewhere/bob:/bin/sh\n");
    EXPECT_EQ(unix_backend_get_home("alice"), "/home/alice");
    EXPECT_EQ(unix_backend_is_group_member("alice", "staff"), 1);
    // The database did change: another user's answers show it.
    EXPECT_EQ(unix_backend_get_home("bob"), "/elsewhere/bob");
    unix_backend_end();
    EXPECT_EQ(unix_backend_get_home("alice"), "/elsewhere/alice");
    EXPECT_EQ(unix_backend_is_group_member("alice", "staff"), 0);
}

} // namespace
