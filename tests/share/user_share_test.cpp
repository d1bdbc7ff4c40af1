#include "share/share.h"

#include "share_section.h"
#include "support/failing_new.h"
#include "auth/auth.h"
#include "share/cwd_guard.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A user_share as plain values, so that whole lists compare and print.
struct entry {
    std::string name;
    std::string path;
    int writeable = 0;
    int no_download = 0;
    int no_list = 0;
    int no_modify = 0;
    int browseable = 1;
    bool operator==(const entry&) const = default;
};

void PrintTo(const entry& e, std::ostream* out)
{
    *out << "[" << e.name << "] " << e.path << " w=" << e.writeable << " dl=" << e.no_download
         << " ls=" << e.no_list << " mod=" << e.no_modify << " browse=" << e.browseable;
}

std::vector<entry> view(const user_share_list& list)
{
    std::vector<entry> out;
    for (const user_share& s : list)
        out.push_back({s.name, s.path, s.writeable, s.no_download, s.no_list, s.no_modify, s.browseable});
    return out;
}

std::string with_dir(std::string text, const std::string& dir)
{
    const size_t at = text.find("@T@");
    return at == std::string::npos ? text : text.replace(at, 3, dir);
}

std::string current_dir()
{
    return fs::current_path().string();
}

// Sections in file order become a list in the reverse order, as the reader builds it.
share_conf_list conf_list(const std::vector<section>& file, const std::string& dir)
{
    share_conf_list list;
    // A path's "@T@" stands for the temporary directory.
    for (section s : file) {
        if (s.path)
            s.path = with_dir(*s.path, dir);
        list.push_front(as_share_conf(std::move(s)));
    }
    return list;
}

user_share caller_entry()
{
    user_share e;
    e.name = "put-there-by-the-caller";
    e.path = "/srv/caller";
    return e;
}

// Group answers come from the "text" method: bob is in staff, alice in admins.
class UserShareTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* d : {"pub", "docs", "private", "home/bob", "home/alice"})
            fs::create_directories(dir.file(d));
        dir.write("plain.txt", "not a directory\n");
        fs::create_directory_symlink(dir.file("home/bob"), dir.file("bob-link"));
        const std::string users = dir.write("users", "bob:staff:" + dir.file("home/bob") + ":x\n"
                                                     "alice:admins:" + dir.file("home/alice") + ":x\n");
        ASSERT_EQ(kestrad_auth_init_config("text", users.c_str()), 0);
        start = current_dir();
    }
    void TearDown() override
    {
        kestrad_auth_end();
        EXPECT_EQ(current_dir(), start) << "the working directory moved";
    }

    temp_dir dir;
    log_capture log;
    std::string start;
};

struct Case {
    const char* name;
    std::vector<section> file;
    const char* user;
    std::optional<std::string> home; // "@T@" for the temporary directory
    std::vector<entry> expected;     // paths with "@T@"
};

TEST_F(UserShareTest, GrantsSharesInFileOrderWithTheirPermissions)
{
    const std::string bob_home = "@T@/home/bob";
    const std::vector<Case> cases = {
        {"read-only, read-write, both, neither",
         {{"ro", "@T@/pub", {}, "bob"},
          {"rw", "@T@/docs", "bob"},
          {"both", "@T@/private", "bob", "bob"},
          {"other", "@T@/pub", "alice", "alice"},
          {"nobody", "@T@/pub"}},
         "bob",
         bob_home,
         {{"ro", "@T@/pub", 0}, {"rw", "@T@/docs", 1}, {"both", "@T@/private", 1}}},
        {"lists hold trimmed names and groups, compared exactly",
         {{"group", "@T@/pub", " alice , @staff "},
          {"wrong case", "@T@/docs", "Bob,@Staff", "BOB"},
          {"group read-only", "@T@/private", "@admins", "@staff"}},
         "bob",
         bob_home,
         {{"group", "@T@/pub", 1}, {"group read-only", "@T@/private", 0}}},
        {"the three disable lists take rights away in their own section only",
         {{"a", "@T@/pub", "bob", {}, "bob", "alice", "@staff"},
          {"b", "@T@/docs", {}, "bob", {}, "carol,bob"},
          {"c", "@T@/private", "bob"}},
         "bob",
         bob_home,
         {{"a", "@T@/pub", 1, 1, 0, 1}, {"b", "@T@/docs", 0, 0, 1, 0}, {"c", "@T@/private", 1}}},
        {"homes gives every user the home share, writeable, whatever its lists say",
         {{"pub", "@T@/pub", "bob"},
          {"homes", "@T@/docs", "alice", "alice", {}, "bob", {}, 0},
          {"docs", "@T@/docs", {}, "bob"}},
         "bob",
         bob_home,
         {{"pub", "@T@/pub", 1}, {"home", "@T@/home/bob", 1, 0, 1, 0, 0}, {"docs", "@T@/docs", 0}}},
        {"a section named home stands beside the home share",
         {{"home", "@T@/pub", "bob"}, {"homes"}},
         "bob",
         bob_home,
         {{"home", "@T@/pub", 1}, {"home", "@T@/home/bob", 1}}},
        {"browseable is copied", {{"hidden", "@T@/pub", "bob", {}, {}, {}, {}, 0}}, "bob", bob_home,
         {{"hidden", "@T@/pub", 1, 0, 0, 0, 0}}},
        {"Homes is an ordinary section", {{"Homes", "@T@/pub", {}, "bob"}}, "bob", bob_home,
         {{"Homes", "@T@/pub", 0}}},
        {"the home is given through a link", {{"homes"}}, "bob", "@T@/bob-link", {{"home", "@T@/home/bob", 1}}},
        {"a missing home gives no home share",
         {{"homes"}, {"pub", "@T@/pub", "bob"}},
         "bob",
         "@T@/home/nobody",
         {{"pub", "@T@/pub", 1}}},
        {"a home that is a file", {{"homes"}}, "bob", "@T@/plain.txt", {}},
        {"no home at all", {{"homes"}}, "bob", std::nullopt, {}},
        {"a section whose directory went away or became a file, or that has none",
         {{"gone", "@T@/removed", "bob"}, {"file", "@T@/plain.txt", "bob"}, {"none", std::nullopt, "bob"}},
         "bob",
         bob_home,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const share_conf_list conf = conf_list(c.file, dir.path());
        std::vector<entry> expected = c.expected;
        for (entry& e : expected)
            e.path = with_dir(e.path, dir.path());
        const std::optional<std::string> home = c.home ? std::optional(with_dir(*c.home, dir.path())) : std::nullopt;
        user_share_list out;
        EXPECT_EQ(kestrad_share_user_list(c.user, home ? home->c_str() : nullptr, &conf, &out), 0);
        EXPECT_EQ(view(out), expected);
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(current_dir(), start);
    }
}

TEST_F(UserShareTest, RelativeHomesFollowTheWorkingDirectory)
{
    cwd_guard back;
    ASSERT_EQ(chdir(dir.file("home").c_str()), 0);
    const share_conf_list conf = conf_list({{"homes"}}, dir.path());
    user_share_list out;
    EXPECT_EQ(kestrad_share_user_list("bob", "./alice/../bob", &conf, &out), 0);
    EXPECT_EQ(view(out), (std::vector<entry>{{"home", dir.file("home/bob"), 1}}));
    EXPECT_EQ(current_dir(), dir.file("home"));
}

TEST_F(UserShareTest, HomesWhoseCanonicalFormIsLongerThan1023AreNotEntered)
{
    // Directories below the temporary one until the path is exactly `length` long.
    const auto directory_of_length = [this](size_t length, char fill) {
        std::string path = dir.path();
        while (path.size() < length) {
            const size_t left = length - path.size();
            path += "/" + std::string(left <= 201 ? left - 1 : (left - 151 >= 2 ? 150 : 100), fill);
            fs::create_directory(path);
        }
        return path;
    };
    const std::string fits = directory_of_length(1023, 'a');
    const std::string too_long = directory_of_length(1024, 'b');
    const share_conf_list conf = conf_list({{"homes"}}, dir.path());
    user_share_list out;
    EXPECT_EQ(kestrad_share_user_list("bob", fits.c_str(), &conf, &out), 0);
    EXPECT_EQ(view(out), (std::vector<entry>{{"home", fits, 1}}));
    out.clear();
    EXPECT_EQ(kestrad_share_user_list("bob", too_long.c_str(), &conf, &out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(UserShareTest, NoUserIsABadCallAndNoSectionsAnEmptyList)
{
    const share_conf_list conf = conf_list({{"pub", "@T@/pub", "bob"}}, dir.path());
    user_share_list out;
    out.push_front(caller_entry());
    EXPECT_EQ(kestrad_share_user_list(nullptr, dir.file("home/bob").c_str(), &conf, &out), -1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"share.c (508) bad parameter"});
    EXPECT_EQ(std::distance(out.begin(), out.end()), 1) << "a bad call leaves the list alone";

    log.clear();
    const share_conf_list empty;
    EXPECT_EQ(kestrad_share_user_list("bob", dir.file("home/bob").c_str(), &empty, &out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(log.lines().empty());

    out.push_front(caller_entry());
    kestrad_share_free_user_list(&out);
    EXPECT_TRUE(out.empty());
    kestrad_share_free_user_list(&out);
    kestrad_share_free_user_list(nullptr);
    EXPECT_TRUE(out.empty());
}

TEST_F(UserShareTest, EveryAllocationFailureFailsCleanlyOrCountsAsNoMatch)
{
    // Long names and paths, so that every copy allocates; no group entries, so that
    // the group test reads no file while allocations are made to fail.
    const std::vector<section> file = {{"a-share-with-a-long-name", "@T@/pub", "somebody-else,bob", {}, "bob"},
                                       {"homes"},
                                       {"another-long-share-name", "@T@/docs", {}, "bob", {}, "bob", "bob"}};
    const share_conf_list conf = conf_list(file, dir.path());
    const std::string home = dir.file("home/bob");
    const std::regex share_failure(R"(share\.c \((\d+)\) (Ran out of memory\.|Failed to strdup\((.*)\)\. \((.*)\)))");
    user_share_list complete;
    complete.push_front(caller_entry());
    ASSERT_EQ(kestrad_share_user_list("bob", home.c_str(), &conf, &complete), 0);
    ASSERT_EQ(std::distance(complete.begin(), complete.end()), 4);
    std::set<int> lines;
    bool in_list_failed = false;
    bool completed = false;
    for (std::size_t n = 1; n < 100 && !completed; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        user_share_list out;
        out.push_front(caller_entry());
        log.clear();
        failing_new::fail_nth(n);
        const int result = kestrad_share_user_list("bob", home.c_str(), &conf, &out);
        const bool fired = failing_new::fired();
        failing_new::fail_nth(0);
        EXPECT_EQ(current_dir(), start);
        if (!fired) {
            completed = true;
            EXPECT_EQ(result, 0);
            EXPECT_EQ(view(out), view(complete));
            EXPECT_TRUE(log.lines().empty());
            continue;
        }
        ASSERT_EQ(log.lines().size(), 1u);
        const std::string& line = log.lines()[0];
        if (line.rfind("misc.c (175) ", 0) == 0) {
            // The list test could not copy its list: the user counts as not listed.
            in_list_failed = true;
            EXPECT_EQ(result, 0);
            EXPECT_NE(view(out), view(complete));
            EXPECT_EQ(view(out).back().name, "put-there-by-the-caller");
            continue;
        }
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, share_failure)) << line;
        lines.insert(std::stoi(match[1]));
        if (match[3].matched) {
            EXPECT_EQ(match[3], home);
            EXPECT_EQ(match[4], "Cannot allocate memory");
        }
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(out.empty()) << "the caller's entries go too";
    }
    EXPECT_TRUE(completed);
    EXPECT_TRUE(in_list_failed);
    EXPECT_EQ(lines, (std::set<int>{531, 558}));
}

} // namespace
