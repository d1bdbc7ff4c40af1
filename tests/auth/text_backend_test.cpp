// The "text" method on text user files in a temporary directory.

#include "auth/text_backend.h"
#include "auth/hashes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class TextBackend : public testing::Test {
protected:
    void SetUp() override
    {
        write_users("/home/alice");
        ASSERT_EQ(text_backend_init(path.c_str()), 0);
    }
    void TearDown() override { text_backend_end(); }

    // Rewrites the file with alice at the given home, so that an answer giving another
    // home can only have come from the cache.
    void write_users(const std::string& alice_home)
    {
        dir.write("users", "# virtual users\n"
                           "alice:staff:" + alice_home + ":" + alice_hash + "\n"
                           "bob:guests:/home/bob:" + bob_hash + "\n"
                           "eve:staff:/home/eve:\n");
    }

    temp_dir dir;
    const std::string path = dir.file("users");
    const std::string alice_hash = make_hash("secret", "$1$");
    const std::string bob_hash = make_hash("hunter2", "$6$");
};

TEST_F(TextBackend, ChecksThePasswordAgainstTheStoredHash)
{
    struct Case {
        const char* user;
        const char* password;
        int expected;
    };
    const Case cases[] = {
        {"alice", "secret", 0},
        {"bob", "hunter2", 0},
        {"alice", "hunter2", -1},
        {"alice", "Secret", -1},
        {"alice", "", -1},
        {"alice", nullptr, -1},
        {"Alice", "secret", -1},
        {"eve", "", -1}, // an empty hash lets nobody in
        {"nobody", "secret", -1},
        {nullptr, "secret", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user ? c.user : "(none)") + "/" + (c.password ? c.password : "(none)"));
        EXPECT_EQ(text_backend_check(c.user, c.password), c.expected);
    }
}

TEST_F(TextBackend, TheCheckedUserIsAnsweredFromTheCacheWhateverThePassword)
{
    struct Case {
        const char* password;
        int expected;
    };
    for (const Case& c : {Case{"secret", 0}, Case{"wrong", -1}}) {
        SCOPED_TRACE(c.password);
        write_users("/home/alice");
        EXPECT_EQ(text_backend_check("alice", c.password), c.expected);
        ASSERT_EQ(std::remove(path.c_str()), 0);
        EXPECT_EQ(text_backend_get_home("alice"), "/home/alice");
        EXPECT_EQ(text_backend_is_group_member("alice", "staff"), 1);
        EXPECT_EQ(text_backend_is_group_member("alice", "Staff"), 0);
        // Everybody else is looked up in the file, which is gone.
        EXPECT_EQ(text_backend_get_home("bob"), std::nullopt);
        EXPECT_EQ(text_backend_is_group_member("bob", "guests"), 0);
    }
}

TEST_F(TextBackend, QueriesForOtherUsersReadTheFileAndKeepTheCache)
{
    ASSERT_EQ(text_backend_check("alice", "secret"), 0);
    EXPECT_EQ(text_backend_is_group_member("bob", "guests"), 1);
    EXPECT_EQ(text_backend_get_home("bob"), "/home/bob");
    write_users("/elsewhere/alice");
    EXPECT_EQ(text_backend_get_home("alice"), "/home/alice");
}

TEST_F(TextBackend, GroupMembershipIsTheGroupFieldExactly)
{
    struct Case {
        const char* user;
        const char* group;
        int expected;
    };
    const Case cases[] = {
        {"alice", "staff", 1}, {"alice", "Staff", 0},  {"alice", "guests", 0}, {"bob", "guests", 1},
        {"bob", "staff", 0},   {"nobody", "staff", 0}, {nullptr, "staff", 0},  {"alice", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user ? c.user : "(none)") + " in " + (c.group ? c.group : "(none)"));
        EXPECT_EQ(text_backend_is_group_member(c.user, c.group), c.expected);
    }
}

TEST_F(TextBackend, AFailedLookupEmptiesTheCache)
{
    ASSERT_EQ(text_backend_check("alice", "secret"), 0);
    EXPECT_EQ(text_backend_check("nobody", "secret"), -1);
    write_users("/elsewhere/alice");
    EXPECT_EQ(text_backend_get_home("alice"), "/elsewhere/alice");
}

TEST_F(TextBackend, AVanishedFileFindsNobody)
{
    ASSERT_EQ(text_backend_check("alice", "secret"), 0);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(text_backend_check("alice", "secret"), -1);
    EXPECT_EQ(text_backend_get_home("alice"), std::nullopt);
    EXPECT_EQ(text_backend_is_group_member("alice", "staff"), 0);
    EXPECT_EQ(text_backend_check("bob", "hunter2"), -1);
}

TEST_F(TextBackend, AfterEndNothingIsFound)
{
    ASSERT_EQ(text_backend_check("alice", "secret"), 0);
    text_backend_end();
    EXPECT_EQ(text_backend_get_home("alice"), std::nullopt);
    EXPECT_EQ(text_backend_is_group_member("alice", "staff"), 0);
    EXPECT_EQ(text_backend_check("alice", "secret"), -1);
    EXPECT_EQ(text_backend_get_home("bob"), std::nullopt);
}

TEST_F(TextBackend, InitNeedsAPathAndTakesTheNewOne)
{
    text_backend_end();
    EXPECT_EQ(text_backend_init(nullptr), -1);
    EXPECT_EQ(text_backend_get_home("bob"), std::nullopt);
    const std::string other = dir.write("other", "bob:guests:/srv/bob:" + bob_hash + "\n");
    ASSERT_EQ(text_backend_init(other.c_str()), 0);
    EXPECT_EQ(text_backend_get_home("bob"), "/srv/bob");
    EXPECT_EQ(text_backend_get_home("alice"), std::nullopt);
}

} // namespace
