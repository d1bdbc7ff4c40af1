#include "share/share.h"

#include "share/cwd_guard.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "tool/login_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int W = SHARE_RESOLVE_WRITE;
constexpr int NOFOLLOW = SHARE_RESOLVE_NOFOLLOW;
constexpr int NOFOLLOW_LAST = SHARE_RESOLVE_NOFOLLOW_LAST;

std::string cwd()
{
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

std::optional<std::string> text_or_none(const char* text)
{
    return text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

user_share share(const std::string& name, const std::string& path, int writeable)
{
    user_share entry;
    entry.name = name;
    entry.path = path;
    entry.writeable = writeable;
    return entry;
}

// A list in the order given.
user_share_list share_list(std::vector<user_share> entries)
{
    user_share_list list;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        list.push_front(*it);
    return list;
}

// The tree every test walks, in its own temporary directory $T:
//   srv/pub     share "pub", writeable       srv/docs    share "docs", read-only
//   srv/public  granted to nobody            outside     granted to nobody
// The process starts each test at the virtual root, "/tmp", in SMB mode.
class ResolvePath : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* dir : {"srv/pub/a/b", "srv/pub/race/sub", "srv/docs/sub", "srv/public", "outside/sub"})
            fs::create_directories(at(dir));
        for (const char* file : {"srv/pub/file.txt", "srv/docs/readme", "srv/public/secret", "outside/secret"})
            root_.write(file, "x");
        link("../docs", "srv/pub/l");
        link(at("srv/docs"), "srv/pub/phys");
        link(at("outside"), "srv/pub/abs_out");
        link("../../../outside", "srv/pub/rel_out");
        link("../public", "srv/pub/up_public");
        link("/", "srv/pub/to_root");
        link("/tmp", "srv/pub/to_tmp");
        link("/docs", "srv/pub/virtual_docs");
        link(std::string(SHARE_ROOT_MARKER) + "/docs", "srv/pub/marker_link");
        link("../../file.txt", "srv/pub/a/b/back");
        link("../../l/readme", "srv/pub/a/b/via");
        link("../../../../../outside/secret", "srv/pub/a/b/esc");
        link("self", "srv/pub/self");
        link("loop_b", "srv/pub/loop_a");
        link("loop_a", "srv/pub/loop_b");
        // c1 -> c2 -> ... -> c32 -> a takes 32 links; c0 in front of it takes 33.
        for (int i = 0; i < 32; ++i)
            link("c" + std::to_string(i + 1), "srv/pub/c" + std::to_string(i));
        link("a", "srv/pub/c32");

        shares_ = share_list({share("pub", at("srv/pub"), 1), share("docs", at("srv/docs"), 0)});
        login_state.smb_mode = 1;
        ASSERT_EQ(chdir(SHARE_ROOT_DIR), 0);
    }
    void TearDown() override { login_state.smb_mode = 0; }

    // A name inside the fixture's directory.
    std::string at(const std::string& name) const { return root_.path() + "/" + name; }
    // "$T" in a text stands for the fixture's directory.
    std::string expand(const char* text) const
    {
        std::string out = text;
        for (size_t pos; (pos = out.find("$T")) != std::string::npos;)
            out.replace(pos, 2, root_.path());
        return out;
    }
    void link(const std::string& target, const std::string& name) const
    {
        ASSERT_EQ(symlink(target.c_str(), at(name).c_str()), 0) << name;
    }
    // Enters a directory of the tree; an empty name is the virtual root.
    std::string enter(const char* start) const
    {
        const std::string dir = *start != '\0' ? at(start) : SHARE_ROOT_DIR;
        EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
        return dir;
    }

    struct Case {
        const char* start; // directory the login stands in, "" for the virtual root
        const char* path;
        int flags;
        const char* expected; // none when refused
    };
    // Runs each case from its start directory: the result must be as expected, nothing
    // may be logged, and the working directory must be where it was.
    void run(const std::vector<Case>& cases) const
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string("from [") + c.start + "] path [" + c.path + "] flags " +
                         std::to_string(c.flags));
            const std::string start = enter(c.start);
            log_capture log;
            const std::string path = expand(c.path);
            const auto result = text_or_none(kestrad_share_resolve_path(&shares_, path.c_str(), c.flags));
            if (c.expected == nullptr)
                EXPECT_EQ(result, std::nullopt);
            else
                EXPECT_EQ(result, expand(c.expected));
            EXPECT_EQ(cwd(), start);
            EXPECT_TRUE(log.lines().empty());
        }
    }

    temp_dir root_;
    cwd_guard back_; // the test runner's own directory, restored before the tree goes
    user_share_list shares_;
};

TEST_F(ResolvePath, ResolvesInsideTheSharesAndEnforcesWrites)
{
    run({
        {"", "/", 0, "/tmp"},
        {"", "/", W, nullptr},
        {"", "/pub", 0, "$T/srv/pub"},
        {"", "/pub", W, nullptr},
        {"", "/pub/", W, nullptr},
        {"", "/pub/.", W, nullptr},
        {"", "/pub/a", W, "$T/srv/pub/a"},
        {"", "/pub/new.txt", 0, "$T/srv/pub/new.txt"},
        {"", "/pub/new.txt", W, "$T/srv/pub/new.txt"},
        {"", "/pub/file.txt", W, "$T/srv/pub/file.txt"},
        {"", "/docs/new.txt", 0, "$T/srv/docs/new.txt"},
        {"", "/docs/new.txt", W, nullptr},
        {"", "/docs/readme", W, nullptr},
        {"", "/docs/sub", 0, "$T/srv/docs/sub"},
        {"", "/docs/sub", W, nullptr},
        {"", "/nosuch", 0, nullptr},
        {"", "nosuch", 0, nullptr},
        {"", "/pub/missing/x", 0, nullptr},
        {"", "/pub/file.txt/x", 0, nullptr},
        {"", "/pub/..", 0, "/tmp"},
        {"", "/pub/../..", 0, "/tmp"},
        {"", "/pub/../docs/sub", 0, "$T/srv/docs/sub"},
        {"", "/../pub", 0, "$T/srv/pub"},
        {"", ".", 0, "/tmp"},
        {"", "..", 0, "/tmp"},
        {"", "pub/a/b", 0, "$T/srv/pub/a/b"},
        {"srv/pub/a", "../b", 0, "$T/srv/pub/b"},
        {"srv/pub/a", "b/../../file.txt", 0, "$T/srv/pub/file.txt"},
        {"srv/pub/a", ".", W, "$T/srv/pub/a"},
        {"srv/pub/a", "/docs", 0, "$T/srv/docs"},
        {"srv/pub", "..", 0, "/tmp"},
        {"srv/pub", "../docs/readme", 0, "$T/srv/docs/readme"},
        {"srv/docs/sub", "x", W, nullptr},
        {"srv/docs/sub", "x", 0, "$T/srv/docs/sub/x"},
        // Names written with runs of '/' and trailing '/'.
        {"", "//pub//a///b/", 0, "$T/srv/pub/a/b"},
        {"", "/pub/./a/./b", 0, "$T/srv/pub/a/b"},
        {"", "/pub/file.txt/", 0, "$T/srv/pub/file.txt"},
        // The root marker, wherever it stands, moves the walk to the virtual root.
        {"", "/pub/a/_@KESTRAD_ROOT@_/docs", 0, "$T/srv/docs"},
        {"", "/_@KESTRAD_ROOT@_", W, nullptr},
        {"srv/pub/a", "_@KESTRAD_ROOT@_", 0, "/tmp"},
        {"srv/pub/a", "b/_@KESTRAD_ROOT@_/pub/a", 0, "$T/srv/pub/a"},
    });
}

TEST_F(ResolvePath, FollowsLinksThroughTheVirtualTree)
{
    run({
        {"", "/pub/l", 0, "$T/srv/docs"},
        {"", "/pub/l/readme", 0, "$T/srv/docs/readme"},
        {"", "/pub/l/new.txt", W, nullptr},
        {"srv/pub", "l/sub", 0, "$T/srv/docs/sub"},
        {"", "/pub/virtual_docs/readme", 0, "$T/srv/docs/readme"},
        {"", "/pub/marker_link", 0, "$T/srv/docs"},
        // A relative target is taken from the link's own directory, link after link.
        {"", "/pub/a/b/back", 0, "$T/srv/pub/file.txt"},
        {"srv/pub/a", "b/via", 0, "$T/srv/docs/readme"},
        {"srv/pub/a", "b/via", W, nullptr},
        // A physical target is read as a virtual path whose first component is no share.
        {"", "/pub/phys", 0, nullptr},
        // Bit 4 keeps only a last link; bit 2 keeps every link as a final component.
        {"", "/pub/l", NOFOLLOW_LAST, "$T/srv/pub/l"},
        {"", "/pub/l/", NOFOLLOW_LAST, "$T/srv/pub/l"},
        {"", "/pub/l/readme", NOFOLLOW_LAST, "$T/srv/docs/readme"},
        {"", "/pub/l", NOFOLLOW, "$T/srv/pub/l"},
        {"", "/pub/l", NOFOLLOW | W, "$T/srv/pub/l"},
        {"", "/pub/l/readme", NOFOLLOW, nullptr},
        {"", "/pub/abs_out", NOFOLLOW_LAST, "$T/srv/pub/abs_out"},
        // 32 links are followed; the 33rd is refused.
        {"", "/pub/c1", 0, "$T/srv/pub/a"},
        {"", "/pub/c1/b", 0, "$T/srv/pub/a/b"},
        {"", "/pub/c0", 0, nullptr},
        {"", "/pub/c0", NOFOLLOW_LAST, "$T/srv/pub/c0"},
    });
}

TEST_F(ResolvePath, RefusesEveryWayOut)
{
    run({
        {"", "/pub/../../../etc/passwd", 0, nullptr},
        {"", "/pub/a/b/../../../../etc", 0, nullptr},
        {"", "/pub/a/b/../../../..", W, nullptr},
        {"srv/pub/a/b", "../../../../outside/secret", 0, nullptr},
        {"srv/pub/a/b", "../../../..", 0, "/tmp"},
        {"srv/pub", "../public/secret", 0, nullptr},
        {"srv/pub", "../outside", 0, nullptr},
        {"srv/pub", "../../outside/secret", 0, nullptr},
        {"", "/public", 0, nullptr},
        {"", "/public/secret", 0, nullptr},
        {"", "/tmp", 0, nullptr},
        {"", "$T/outside/secret", 0, nullptr},
        {"", "$T/srv/pub/file.txt", 0, nullptr},
        {"srv/pub", "$T/outside", 0, nullptr},
        {"", "/pub/abs_out", 0, nullptr},
        {"", "/pub/abs_out/secret", 0, nullptr},
        {"", "/pub/rel_out/secret", 0, nullptr},
        {"", "/pub/a/b/esc", 0, nullptr},
        {"", "/pub/up_public/secret", 0, nullptr},
        {"", "/pub/to_tmp", 0, nullptr},
        {"", "/pub/to_root", 0, "/tmp"},
        {"", "/pub/to_root", W, nullptr},
        {"", "/pub/to_root/pub/a", 0, "$T/srv/pub/a"},
        {"", "/pub/to_root/etc", 0, nullptr},
        {"", "/pub/self", 0, nullptr},
        {"", "/pub/self/x", 0, nullptr},
        {"", "/pub/loop_a", 0, nullptr},
        {"", "/pub/loop_b/x", 0, nullptr},
        {"", "/_@KESTRAD_ROOT@_/../../outside", 0, nullptr},
    });
}

// A login found in no share, also one whose directory merely shares a prefix with a
// share's, is refused and put back at the virtual root.
TEST_F(ResolvePath, LoginOutsideTheSharesGoesBackToTheVirtualRoot)
{
    for (const char* start : {"srv/public", "outside", "srv"}) {
        SCOPED_TRACE(start);
        enter(start);
        EXPECT_EQ(kestrad_share_resolve_path(&shares_, "/pub", 0), nullptr);
        EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
    }
    // A share holds only its own directory and what lies below it.
    const user_share_list pub_only = share_list({share("pub", at("srv/pub"), 1)});
    enter("srv/public");
    EXPECT_EQ(kestrad_share_resolve_path(&pub_only, "secret", 0), nullptr);
    EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
}

TEST_F(ResolvePath, EmptyShareListReachesOnlyTheVirtualRoot)
{
    const user_share_list empty;
    for (const user_share_list* list : {&empty, static_cast<const user_share_list*>(nullptr)}) {
        log_capture log;
        EXPECT_EQ(text_or_none(kestrad_share_resolve_path(list, "/", 0)), "/tmp");
        EXPECT_EQ(text_or_none(kestrad_share_resolve_path(list, "../..", 0)), "/tmp");
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(kestrad_share_resolve_path(list, "/pub", 0), nullptr);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"share.c (68) bad parameter"});
        EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
    }
    enter("srv/pub");
    EXPECT_EQ(kestrad_share_resolve_path(&empty, ".", 0), nullptr);
    EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
}

TEST_F(ResolvePath, MissingOrEmptyPath)
{
    log_capture log;
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "", 0), nullptr);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, nullptr, 0), nullptr);
    login_state.smb_mode = 0;
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, nullptr, NOFOLLOW_LAST), nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"share.c (280) bad parameter", "share.c (280) bad parameter"}));
}

TEST_F(ResolvePath, EntriesWithoutAPathArePassedOver)
{
    const user_share_list list = share_list({share("pub", "", 1), share("pub", at("srv/pub"), 1)});
    EXPECT_EQ(kestrad_share_resolve_path(&list, "/pub", 0), nullptr);
    EXPECT_EQ(kestrad_share_find(&list, at("srv/pub/a").c_str()), &*std::next(list.begin()));
    EXPECT_EQ(kestrad_share_check_access(&list, at("srv/pub/a").c_str(), 1), 1);
}

// Paths are never cut into another name: what does not fit in 1024 characters is refused.
TEST_F(ResolvePath, LongPathsAreRefusedNotCut)
{
    std::string at_limit = "/pub";
    for (int i = 0; i < 510; ++i)
        at_limit += "/.";
    ASSERT_EQ(at_limit.size(), 1024u);
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, at_limit.c_str(), 0)), at("srv/pub"));
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, (at_limit + "/").c_str(), 0), nullptr);
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, std::string(5000, 'a').c_str(), 0), nullptr);

    // A link target longer than 1024 characters, though its first 1024 would lead to a.
    std::string long_target = "a";
    for (int i = 0; i < 750; ++i)
        long_target += "/.";
    link(long_target, "srv/pub/long_target");
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "/pub/long_target", 0), nullptr);
    // Followed, the link gives way to its target, "/" and the rest of the path: here
    // exactly 1024 characters, and one more with the rest one character longer.
    std::string target = "a";
    for (int i = 0; i < 300; ++i)
        target += "/.";
    link(target, "srv/pub/dots");
    std::string rest = "b";
    for (int i = 0; i < 210; ++i)
        rest += "/.";
    rest += "/";
    ASSERT_EQ(target.size() + 1 + rest.size(), 1024u);
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, ("/pub/dots/" + rest).c_str(), 0)), at("srv/pub/a/b"));
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, ("/pub/dots/" + rest + ".").c_str(), 0), nullptr);

    // A directory whose real path is longer than 1024 characters cannot be stood in or named.
    const std::string name(250, 'n');
    std::string deep = "srv/pub/deep";
    std::string virtual_deep = "/pub/deep";
    for (int i = 0; i < 3; ++i) {
        deep += "/" + name;
        virtual_deep += "/" + name;
    }
    fs::create_directories(at(deep + "/" + name));
    ASSERT_LE(at(deep).size(), 1024u);
    ASSERT_GT(at(deep).size() + 1 + name.size(), 1024u);
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, virtual_deep.c_str(), 0)), at(deep));
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, (virtual_deep + "/" + name).c_str(), 0), nullptr);
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, (virtual_deep + "/" + std::string(250, 'm')).c_str(), 0),
              nullptr);
    EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
}

// The resolver trusts where the system says the process stands, not what it was told.
TEST_F(ResolvePath, DirectoryMovedUnderTheLogin)
{
    enter("srv/pub/a");
    ASSERT_EQ(rename(at("srv/pub/a").c_str(), at("srv/docs/a").c_str()), 0);
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, "new.txt", 0)), at("srv/docs/a/new.txt"));
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "new.txt", W), nullptr);
    EXPECT_EQ(cwd(), at("srv/docs/a"));

    ASSERT_EQ(rename(at("srv/docs/a").c_str(), at("outside/a").c_str()), 0);
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "b", 0), nullptr);
    EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
}

TEST_F(ResolvePath, ShareDirectoryReplacedByALinkIsRefused)
{
    ASSERT_EQ(rename(at("srv/docs").c_str(), at("srv/docs_moved").c_str()), 0);
    link(at("outside"), "srv/docs");
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "/docs", 0), nullptr);
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "/docs/secret", 0), nullptr);
    EXPECT_EQ(cwd(), SHARE_ROOT_DIR);
}

// Another process moves a directory out of the share and back while the login walks
// through it. Whatever the interleaving, a result is the path inside the share, and the
// working directory stays put.
TEST_F(ResolvePath, DirectoryMovedOutWhileWalking)
{
    const std::string inside = at("srv/pub/race");
    const std::string outside = at("outside/race");
    std::atomic<bool> stop = false;
    std::thread mover([&] {
        while (!stop) {
            static_cast<void>(rename(inside.c_str(), outside.c_str()));
            static_cast<void>(rename(outside.c_str(), inside.c_str()));
        }
    });
    const std::string expected = at("srv/pub/race/sub");
    int refused = 0;
    std::vector<std::string> wrong;
    for (int i = 0; i < 10000 && wrong.empty(); ++i) {
        const char* result = kestrad_share_resolve_path(&shares_, "/pub/race/sub", 0);
        if (result == nullptr)
            ++refused;
        else if (result != expected)
            wrong.push_back(std::string("result ") + result);
        if (cwd() != SHARE_ROOT_DIR)
            wrong.push_back("working directory " + cwd());
    }
    stop = true;
    mover.join();
    EXPECT_EQ(wrong, std::vector<std::string>());
    RecordProperty("refused", refused);
}

TEST_F(ResolvePath, OutsideSmbModeOnlyCanonicalises)
{
    login_state.smb_mode = 0;
    enter("srv/pub");
    struct PlainCase {
        const char* path;
        int flags;
        const char* expected;
    };
    const std::vector<PlainCase> cases = {
        {"$T/srv/pub/l", 0, "$T/srv/docs"},
        {"a/../l/readme", 0, "$T/srv/docs/readme"},
        {"$T/srv/pub/./a/../file.txt", 0, "$T/srv/pub/file.txt"},
        {"$T/outside/secret", 0, "$T/outside/secret"},
        // realpath fails on a name still to be made and leaves the name itself.
        {"$T/srv/pub/new.txt", 0, "$T/srv/pub/new.txt"},
        {"$T/srv/pub/l", NOFOLLOW_LAST, "$T/srv/pub/l"},
        {"x/../../y//", NOFOLLOW_LAST, "x/../../y//"},
        {"/../..", W | NOFOLLOW, "/"},
    };
    for (const PlainCase& c : cases) {
        const std::string path = expand(c.path);
        SCOPED_TRACE(path);
        EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, path.c_str(), c.flags)), expand(c.expected));
        EXPECT_EQ(cwd(), at("srv/pub"));
    }
    // The empty path gives the buffer as the previous call left it.
    const char* previous = kestrad_share_resolve_path(&shares_, "keep", NOFOLLOW_LAST);
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, "", 0)), "keep");
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, "", NOFOLLOW_LAST), previous);
    EXPECT_STREQ(previous, "");

    const std::string at_limit(1024, 'p');
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&shares_, at_limit.c_str(), NOFOLLOW_LAST)), at_limit);
    EXPECT_EQ(kestrad_share_resolve_path(&shares_, (at_limit + "q").c_str(), NOFOLLOW_LAST), nullptr);
}

TEST_F(ResolvePath, RealToVirtual)
{
    struct VirtualCase {
        const char* real;
        int result;
        const char* expected;
    };
    const std::vector<VirtualCase> cases = {
        {"$T/srv/pub/a/b", 0, "/pub/a/b"},
        {"$T/srv/pub", 0, "/pub"},
        {"$T/srv/docs/sub", 0, "/docs/sub"},
        {"/tmp", 0, "/"},
        {"$T/srv/public", -1, "$T/srv/public"},
        {"$T/srv/pubx/a", -1, "$T/srv/pubx/a"},
        {"$T/srv", -1, "$T/srv"},
        {"/tmp/x", -1, "/tmp/x"},
    };
    for (const VirtualCase& c : cases) {
        SCOPED_TRACE(c.real);
        char buffer[1025];
        std::snprintf(buffer, sizeof buffer, "%s", expand(c.real).c_str());
        EXPECT_EQ(kestrad_share_real_to_virtual(&shares_, buffer, sizeof buffer), c.result);
        EXPECT_STREQ(buffer, expand(c.expected).c_str());
    }

    // A virtual form longer than the buffer is refused and leaves the buffer as it was.
    const std::string long_name(100, 's');
    const user_share_list long_names = share_list({share(long_name, at("srv/pub"), 1)});
    std::string real = at("srv/pub/a");
    std::vector<char> tight(real.begin(), real.end());
    tight.push_back('\0');
    EXPECT_EQ(kestrad_share_real_to_virtual(&long_names, tight.data(), tight.size()), -1);
    EXPECT_STREQ(tight.data(), real.c_str());
    std::vector<char> roomy(tight);
    ASSERT_LT(roomy.size(), 1 + long_name.size() + 2 + 1);
    roomy.resize(1 + long_name.size() + 2 + 1);
    EXPECT_EQ(kestrad_share_real_to_virtual(&long_names, roomy.data(), roomy.size()), 0);
    EXPECT_EQ(std::string(roomy.data()), "/" + long_name + "/a");

    log_capture log;
    char unterminated[4] = {'/', 't', 'm', 'p'};
    EXPECT_EQ(kestrad_share_real_to_virtual(&shares_, unterminated, sizeof unterminated), -1);
    EXPECT_EQ(kestrad_share_real_to_virtual(&shares_, nullptr, 10), -1);
    char empty_size[] = "/tmp";
    EXPECT_EQ(kestrad_share_real_to_virtual(&shares_, empty_size, 0), -1);
    EXPECT_STREQ(empty_size, "/tmp");
    EXPECT_EQ(log.lines(), std::vector<std::string>(3, "share.c (140) bad parameter"));

    login_state.smb_mode = 0;
    char untouched[] = "/tmp";
    EXPECT_EQ(kestrad_share_real_to_virtual(&shares_, untouched, sizeof untouched), 0);
    EXPECT_STREQ(untouched, "/tmp");
}

TEST_F(ResolvePath, AccessAndFind)
{
    struct AccessCase {
        const char* real;
        int read;
        int write;
        const char* holder; // name of the share found, none when no share holds the path
    };
    const std::vector<AccessCase> cases = {
        {"$T/srv/pub", 1, 1, "pub"},
        {"$T/srv/pub/a/b", 1, 1, "pub"},
        {"$T/srv/docs/readme", 1, 0, "docs"},
        {"$T/srv/public", 0, 0, nullptr},
        {"$T/srv/pu", 0, 0, nullptr},
        {"$T/srv", 0, 0, nullptr},
        {"/tmp", 0, 0, nullptr},
    };
    for (const AccessCase& c : cases) {
        const std::string real = expand(c.real);
        SCOPED_TRACE(real);
        EXPECT_EQ(kestrad_share_check_access(&shares_, real.c_str(), 0), c.read);
        EXPECT_EQ(kestrad_share_check_access(&shares_, real.c_str(), 1), c.write);
        const user_share* found = kestrad_share_find(&shares_, real.c_str());
        EXPECT_EQ(found != nullptr ? std::optional<std::string>(found->name) : std::nullopt, text_or_none(c.holder));
    }
    log_capture log;
    EXPECT_EQ(kestrad_share_check_access(&shares_, nullptr, 0), 0);
    EXPECT_EQ(kestrad_share_find(&shares_, nullptr), nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"share.c (232) bad parameter"});
}

// With nested share directories the first entry of the list that holds a path decides.
TEST_F(ResolvePath, NestedSharesFollowTheFirstEntry)
{
    const user_share_list nested = share_list({share("all", at("srv"), 0), share("pub", at("srv/pub"), 1)});
    const std::string real = at("srv/pub/x");
    EXPECT_EQ(kestrad_share_find(&nested, real.c_str()), &nested.front());
    EXPECT_EQ(kestrad_share_check_access(&nested, real.c_str(), 1), 0);
    char buffer[1025];
    std::snprintf(buffer, sizeof buffer, "%s", real.c_str());
    EXPECT_EQ(kestrad_share_real_to_virtual(&nested, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "/all/pub/x");

    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&nested, "/all/pub/a", 0)), at("srv/pub/a"));
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&nested, "/pub/a", 0)), at("srv/pub/a"));
    EXPECT_EQ(kestrad_share_resolve_path(&nested, "/pub/new.txt", W), nullptr);
    EXPECT_EQ(kestrad_share_resolve_path(&nested, "/all/../outside", 0), nullptr);
    // ".." from a directory that is the top of any share, even one reached through
    // another share, leads to the virtual root.
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&nested, "/all/pub/..", 0)), "/tmp");
    EXPECT_EQ(text_or_none(kestrad_share_resolve_path(&nested, "/all/pub/a/..", 0)), at("srv/pub"));
}

} // namespace
