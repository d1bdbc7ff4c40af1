#include "config/lookups.h"

#include "auth/auth.h"
#include "config/misc.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Group answers come from the "text" method: bob and carol are in staff, alice in admins,
// and "Bob" (another user) in other.
class LookupsTest : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string users = dir.write("users", "bob:staff:/home/bob:x\n"
                                                     "alice:admins:/home/alice:x\n"
                                                     "carol:staff:/home/carol:x\n"
                                                     "Bob:other:/home/Bob:x\n");
        ASSERT_EQ(kestrad_auth_init_config("text", users.c_str()), 0);
    }
    void TearDown() override { kestrad_auth_end(); }

    temp_dir dir;
};

// Lines of a per-user option in file order; the list holds the newest first.
using lines = std::vector<std::pair<std::string, std::string>>;

user_option_list option_list(const lines& file)
{
    user_option_list list;
    for (const auto& [name, value] : file)
        list.push_front({name, value});
    return list;
}

struct OptionCase {
    const char* name;
    lines file;
    std::vector<std::pair<std::string, std::optional<std::string>>> answers; // user, value
};

TEST_F(LookupsTest, TheLastMatchingLineOfTheFileWins)
{
    const std::vector<OptionCase> cases = {
        {"a later '@' line overrides the user's own", {{"bob", "/b"}, {"@", "/all"}},
         {{"bob", "/all"}, {"carol", "/all"}}},
        {"a later user line overrides '@'", {{"@", "/all"}, {"bob", "/b"}}, {{"bob", "/b"}, {"carol", "/all"}}},
        {"a group line applies to its members only", {{"@staff", "/s"}},
         {{"bob", "/s"}, {"carol", "/s"}, {"alice", std::nullopt}, {"Bob", std::nullopt}, {"nobody", std::nullopt}}},
        {"user names compare with case", {{"bob", "/b"}}, {{"Bob", std::nullopt}, {"bob", "/b"}, {"bo", std::nullopt}}},
        {"a later group line overrides the user's own", {{"bob", "/b"}, {"@staff", "/s"}}, {{"bob", "/s"}}},
        {"a later user line overrides the group's", {{"@staff", "/s"}, {"bob", "/b"}},
         {{"bob", "/b"}, {"carol", "/s"}}},
        {"group names compare with case", {{"@Staff", "/S"}, {"@admins", "/a"}},
         {{"bob", std::nullopt}, {"alice", "/a"}}},
        {"no line", {}, {{"bob", std::nullopt}}},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const user_option_list list = option_list(c.file);
        for (const auto& [user, expected] : c.answers) {
            SCOPED_TRACE(user);
            const std::string* value = kestrad_user_option(&list, user.c_str());
            EXPECT_EQ(value ? std::optional(*value) : std::nullopt, expected);
            EXPECT_EQ(kestrad_get_chroot(&list, user.c_str()), value);
        }
    }
}

TEST_F(LookupsTest, TheValueBelongsToTheListAndAbsentArgumentsFindNothing)
{
    const user_option_list list = option_list({{"bob", "/first"}, {"bob", "/second"}});
    EXPECT_EQ(kestrad_user_option(&list, "bob"), &list.front().value);
    EXPECT_EQ(kestrad_user_option(nullptr, "bob"), nullptr);
    EXPECT_EQ(kestrad_user_option(&list, nullptr), nullptr);
    EXPECT_EQ(kestrad_get_chroot(nullptr, "bob"), nullptr);
    EXPECT_EQ(kestrad_get_rate(nullptr, "bob"), 0);
    EXPECT_EQ(kestrad_get_rate(&list, nullptr), 0);
}

TEST_F(LookupsTest, RatesAreKilobytesTurnedIntoBytes)
{
    constexpr int64_t most = std::numeric_limits<int64_t>::max();
    constexpr int64_t least = std::numeric_limits<int64_t>::min();
    const std::vector<std::pair<std::string, int64_t>> cases = {
        {"100", 100 * 1024},
        {"0", 0},
        {"fast", 0},
        {"12kb", 12 * 1024},
        {"-5", -5 * 1024},
        // The largest number of kilobytes whose bytes still count exactly, and one more.
        {"9007199254740991", 9007199254740991LL * 1024},
        {"9007199254740992", most},
        {"99999999999999999999999", most},
        {"-9007199254740993", least},
        {"-99999999999999999999999", least},
    };
    for (const auto& [value, bytes] : cases) {
        SCOPED_TRACE(value);
        const user_option_list list = option_list({{"@staff", value}});
        EXPECT_EQ(kestrad_get_rate(&list, "bob"), bytes);
        EXPECT_EQ(kestrad_get_rate(&list, "alice"), 0) << "no line applies: no limit";
    }
}

struct ModeCase {
    int32_t mode;
    std::optional<std::string> list;
    std::string user;
    int32_t expected;
};

TEST_F(LookupsTest, ExceptionsTakeTheOtherMode)
{
    const std::vector<ModeCase> cases = {
        {0, "bob", "bob", 1},
        {1, "bob", "bob", 0},
        {0, std::nullopt, "bob", 0},
        {1, std::nullopt, "bob", 1},
        {0, "bob", "carol", 0},
        {1, "bob", "carol", 1},
        {2, "bob", "bob", 2},
        {-1, "bob", "bob", -1},
        // Entries are trimmed; empty ones do not exist.
        {0, "bob , ,@staff,,alice", "alice", 1},
        {0, "bob , ,@staff,,alice", "carol", 1},
        {0, ",, \talice\t ,", "alice", 1},
        {0, "Bob", "bob", 0},
        {0, "bo", "bob", 0},
        {0, "bobby", "bob", 0},
        // '@' alone names a group without a name, not every user.
        {0, "@", "bob", 0},
        {0, "@Staff", "bob", 0},
        {0, "@admins", "alice", 1},
        // The group test in between must not lose the place in the list.
        {0, "@nosuch, @admins , carol", "carol", 1},
        {1, " @staff", "bob", 0},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " [" + c.list.value_or("(none)") + "] " + c.user);
        const char* list = c.list ? c.list->c_str() : nullptr;
        EXPECT_EQ(kestrad_get_mode(c.mode, list, c.user.c_str()), c.expected);
        if (c.mode == 0 || c.mode == 1) {
            EXPECT_EQ(kestrad_in_list(c.user.c_str(), list), c.mode == c.expected ? 0 : 1);
        }
    }
    EXPECT_EQ(kestrad_get_mode(0, "bob", nullptr), 0);
}

TEST(LookupsWithoutMethod, GroupEntriesMatchNobody)
{
    kestrad_auth_end();
    const user_option_list list = option_list({{"@staff", "/s"}, {"@", "/all"}});
    const user_option_list groups_only = option_list({{"@staff", "/s"}});
    EXPECT_EQ(*kestrad_user_option(&list, "bob"), "/all");
    EXPECT_EQ(kestrad_user_option(&groups_only, "bob"), nullptr);
    EXPECT_EQ(kestrad_get_mode(0, "@staff", "bob"), 0);
}

} // namespace
