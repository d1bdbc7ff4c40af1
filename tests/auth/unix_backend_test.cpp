// The "unix" method against accounts and a clock of the test's own.

#include "auth/unix_backend.h"
#include "auth/fake_accounts.h"
#include "auth/hashes.h"

#include <gtest/gtest.h>

namespace {

class UnixBackend : public testing::Test {
protected:
    void SetUp() override
    {
        accounts.users["alice"] = {make_hash("secret", "$6$"), 1000, 100, "/home/alice", 0};
        accounts.users["bob"] = {make_hash("hunter2", "$1$"), 1001, 200, "/home/bob", 0};
        accounts.groups["staff"] = {100, {}};
        accounts.groups["devs"] = {300, {"bob", "Alice"}};
        accounts.groups["guests"] = {200, {}};
        ASSERT_EQ(unix_backend_init(nullptr), 0);
    }
    void TearDown() override { unix_backend_end(); }

    // Moves alice to another home and group, so an answer that still gives the old ones
    // can only have come from the cache.
    void move_alice()
    {
        accounts.users["alice"].home = "/elsewhere/alice";
        accounts.users["alice"].gid = 200;
    }

    fake_accounts accounts;
};

TEST_F(UnixBackend, ComparesTheHashExactly)
{
    struct Case {
        const char* what;
        std::string stored;
        const char* password;
        int expected;
    };
    const std::string md5 = make_hash("secret", "$1$");
    const Case cases[] = {
        {"MD5 hash, right password", md5, "secret", 0},
        {"SHA-256 hash, right password", make_hash("secret", "$5$"), "secret", 0},
        {"SHA-512 hash, right password", make_hash("secret", "$6$"), "secret", 0},
        {"yescrypt hash, right password", make_hash("secret", "$y$"), "secret", 0},
        {"stored hash of another tool", "$1$Kx3.pQ9z$V9/Cv/o2MmxADaTDbCAP8.", "alicepass", 0},
        {"wrong password", md5, "Secret", -1},
        {"password with a character more", md5, "secret ", -1},
        {"empty password", md5, "", -1},
        {"missing password", md5, nullptr, -1},
        {"empty stored hash, empty password", "", "", -1},
        {"empty stored hash, any password", "", "secret", -1},
        {"locked account", "!" + md5, "secret", -1},
        {"no password at all", "*", "", -1},
        {"hash kept elsewhere", "x", "x", -1},
        {"truncated hash", md5.substr(0, md5.size() - 4), "secret", -1},
        {"salt only", "$1$Kx3.pQ9z$", "alicepass", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        accounts.users["carol"] = {c.stored, 1002, 100, "/home/carol", 0};
        EXPECT_EQ(unix_backend_check("carol", c.password), c.expected);
    }
}

TEST_F(UnixBackend, RefusesUnknownAndMissingUsers)
{
    EXPECT_EQ(unix_backend_check("nobody", "secret"), -1);
    EXPECT_EQ(unix_backend_check("Alice", "secret"), -1);
    EXPECT_EQ(unix_backend_check(nullptr, "secret"), -1);
    EXPECT_EQ(unix_backend_check(nullptr, nullptr), -1);
}

TEST_F(UnixBackend, AnAccountExpiresAtItsExpiryTime)
{
    struct Case {
        const char* what;
        time_t expire;
        time_t now;
        int expected;
    };
    const Case cases[] = {
        {"never expires", 0, 4'000'000'000, 0},
        {"expires a second from now", 1'700'000'001, 1'700'000'000, 0},
        {"expires this very second", 1'700'000'000, 1'700'000'000, -1},
        {"expired a second ago", 1'699'999'999, 1'700'000'000, -1},
        {"expired long ago", 86'400, 1'700'000'000, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        accounts.users["alice"].expire = c.expire;
        accounts.clock = c.now;
        EXPECT_EQ(unix_backend_check("alice", "secret"), c.expected);
        // An expired account must not leave a cached home behind.
        move_alice();
        EXPECT_EQ(unix_backend_get_home("alice"), c.expected == 0 ? "/home/alice" : "/elsewhere/alice");
        accounts.users["alice"].home = "/home/alice";
        accounts.users["alice"].gid = 100;
    }
}

TEST_F(UnixBackend, TheAcceptedAccountIsAnsweredFromTheCache)
{
    ASSERT_EQ(unix_backend_check("alice", "secret"), 0);
    move_alice();
    accounts.reads = 0;
    EXPECT_EQ(unix_backend_get_home("alice"), "/home/alice");
    EXPECT_EQ(accounts.reads, 0);
    // The primary group comes from the cache; only the group itself is read.
    EXPECT_EQ(unix_backend_is_group_member("alice", "staff"), 1);
    EXPECT_EQ(unix_backend_is_group_member("alice", "guests"), 0);
    EXPECT_EQ(accounts.reads, 2);
}

TEST_F(UnixBackend, QueriesForOtherUsersReadTheDatabasesAndKeepTheCache)
{
    ASSERT_EQ(unix_backend_check("alice", "secret"), 0);
    EXPECT_EQ(unix_backend_get_home("bob"), "/home/bob");
    EXPECT_EQ(unix_backend_is_group_member("bob", "guests"), 1);
    accounts.users["bob"].home = "/elsewhere/bob";
    EXPECT_EQ(unix_backend_get_home("bob"), "/elsewhere/bob");
    move_alice();
    EXPECT_EQ(unix_backend_get_home("alice"), "/home/alice");
    // The cache compares names exactly: another spelling is another user.
    EXPECT_EQ(unix_backend_get_home("Alice"), std::nullopt);
}

TEST_F(UnixBackend, EveryCheckEndAndInitEmptiesTheCache)
{
    struct Case {
        const char* what;
        void (*after_accepted_check)();
    };
    const Case cases[] = {
        {"a refused check of another user", [] { EXPECT_EQ(unix_backend_check("bob", "wrong"), -1); }},
        {"a refused check of the same user", [] { EXPECT_EQ(unix_backend_check("alice", "wrong"), -1); }},
        {"an accepted check of another user", [] { EXPECT_EQ(unix_backend_check("bob", "hunter2"), 0); }},
        {"end", [] { unix_backend_end(); }},
        {"init", [] { EXPECT_EQ(unix_backend_init("ignored"), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        accounts.users["alice"].home = "/home/alice";
        accounts.users["alice"].gid = 100;
        ASSERT_EQ(unix_backend_check("alice", "secret"), 0);
        c.after_accepted_check();
        move_alice();
        EXPECT_EQ(unix_backend_get_home("alice"), "/elsewhere/alice");
        EXPECT_EQ(unix_backend_is_group_member("alice", "staff"), 0);
        EXPECT_EQ(unix_backend_is_group_member("alice", "guests"), 1);
    }
}

TEST_F(UnixBackend, GroupMembership)
{
    struct Case {
        const char* user;
        const char* group;
        int expected;
    };
    const Case cases[] = {
        {"alice", "staff", 1},   // primary group, not listed as a member
        {"bob", "devs", 1},      // listed as a member, another primary group
        {"alice", "devs", 0},    // the list names "Alice", not "alice"
        {"alice", "Staff", 0},   // no group of that name
        {"alice", "nosuch", 0},
        {"nobody", "staff", 0},  // unknown user
        {"Alice", "devs", 0},    // listed, but without an account
        {nullptr, "staff", 0},
        {"alice", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user ? c.user : "(none)") + " in " + (c.group ? c.group : "(none)"));
        EXPECT_EQ(unix_backend_is_group_member(c.user, c.group), c.expected);
    }
}

TEST_F(UnixBackend, HomeDirectories)
{
    accounts.users["dave"] = {make_hash("x", "$1$"), 1003, 100, std::nullopt, 0};
    EXPECT_EQ(unix_backend_get_home("bob"), "/home/bob");
    EXPECT_EQ(unix_backend_get_home("nobody"), std::nullopt);
    EXPECT_EQ(unix_backend_get_home("dave"), std::nullopt);
    EXPECT_EQ(unix_backend_get_home(nullptr), std::nullopt);
    // An accepted account without a home is still accepted; its home is looked up anew.
    ASSERT_EQ(unix_backend_check("dave", "x"), 0);
    accounts.users["dave"].home = "/home/dave";
    EXPECT_EQ(unix_backend_get_home("dave"), "/home/dave");
}

} // namespace
