#include "share/share.h"

#include "share_section.h"
#include "support/failing_new.h"
#include "share/cwd_guard.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <ostream>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<section> view(const share_conf_list& list)
{
    std::vector<section> out;
    for (const share_conf& r : list)
        out.push_back(as_section(r));
    return out;
}

share_conf record(const char* name, const char* path = nullptr)
{
    share_conf r;
    r.name = name;
    if (path != nullptr)
        r.path = path;
    return r;
}

std::string current_dir()
{
    return fs::current_path().string();
}

// Replaces every "@T@" with the temporary directory.
std::string with_dir(std::string text, const std::string& dir)
{
    for (size_t at = text.find("@T@"); at != std::string::npos; at = text.find("@T@", at + dir.size()))
        text.replace(at, 3, dir);
    return text;
}

class ShareConfTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir.file("pub/sub"));
        fs::create_directory(dir.file("docs"));
        fs::create_directory(dir.file("with blank"));
        dir.write("plain.txt", "not a directory\n");
        fs::create_directory_symlink(dir.file("pub"), dir.file("publink"));
        fs::create_directory_symlink(dir.file("missing"), dir.file("dangling"));
        start = current_dir();
    }
    void TearDown() override { EXPECT_EQ(current_dir(), start) << "the working directory moved"; }

    // Reads the content (with "@T@" standing for the temporary directory) into the list.
    int read(const std::string& content, share_conf_list& list)
    {
        const std::string file = dir.write("shares.conf", with_dir(content, dir.path()));
        return kestrad_share_read_conf(file.c_str(), &list);
    }

    temp_dir dir;
    log_capture log;
    std::string start;
};

struct Case {
    const char* name;
    std::string content;
    std::vector<section> sections; // in list order: the last section of the file first
    std::vector<std::string> log;
};

TEST_F(ShareConfTest, ReadsSectionsKeysAndPaths)
{
    const std::string missing_log = "share.c (743) path \"@T@/missing\" does not exist.";
    const std::vector<Case> cases = {
        {"blank lines and comments only", "\n   \n# [pub]\n\t# rw = bob\n", {}, {}},
        {"keys before any section are ignored",
         "rw = bob\npath = @T@/pub\n[pub]\npath = @T@/docs\n",
         {{"pub", "@T@/docs"}},
         {}},
        {"homes survives without a path, other sections without one do not",
         "[ homes ]\n[Homes]\n[pub]\nrw = bob\n",
         {{"homes"}},
         {}},
        {"text after the head is ignored; empty and open heads change nothing",
         "[a]b\npath = @T@/pub\n[]\nrw = bob\n[c\nro = carol\n",
         {{"a", "@T@/pub", "bob", "carol"}},
         {}},
        {"keys match exactly, further equals signs belong to the value",
         "[pub]\npath=@T@/pub\nRW = eve\ndisable download = eve\n; rw = eve\nrw = bob = alice\n",
         {{"pub", "@T@/pub", "bob = alice"}},
         {}},
        {"every list, keys and values trimmed and unquoted once",
         "[pub]\n path = \"@T@/pub\" \n\"rw\" = ' bob, alice '\nro='carol'\ndisable_download = d\n"
         "disable_ls = l\ndisable_modify = \"m\"\"\n",
         {{"pub", "@T@/pub", " bob, alice ", "carol", "d", "l", "m\""}},
         {}},
        {"a later line replaces an earlier one",
         "[pub]\npath=@T@/pub\nrw=bob\nrw=alice\npath=@T@/docs\n",
         {{"pub", "@T@/docs", "alice"}},
         {}},
        {"only \"no\" takes browsing away, and nothing gives it back",
         "[a]\npath=@T@/pub\nbrowseable = No\nbrowseable = yes\n[b]\npath=@T@/pub\nbrowseable = false\n"
         "[c]\npath=@T@/pub\nbrowseable='NO'\n",
         {{"c", "@T@/pub", {}, {}, {}, {}, {}, 0}, {"b", "@T@/pub"}, {"a", "@T@/pub", {}, {}, {}, {}, {}, 0}},
         {}},
        {"two sections of one name", "[pub]\npath=@T@/pub\n[pub]\npath=@T@/docs\n",
         {{"pub", "@T@/docs"}, {"pub", "@T@/pub"}}, {}},
        {"a directory that does not exist is logged, and its section dropped without more",
         "[gone]\npath = @T@/missing\nrw = bob\n[pub]\npath=@T@/pub\n",
         {{"pub", "@T@/pub"}},
         {missing_log}},
        {"a regular file and a dangling link are not directories",
         "[file]\npath=@T@/plain.txt\n[dangling]\npath=@T@/dangling\n",
         {},
         {"share.c (743) path \"@T@/plain.txt\" does not exist.",
          "share.c (743) path \"@T@/dangling\" does not exist."}},
        {"a path that fails keeps the one before", "[pub]\npath=@T@/pub\npath=@T@/missing\n",
         {{"pub", "@T@/pub"}}, {missing_log}},
        {"an empty path", "[pub]\npath =\n", {}, {"share.c (743) path \"\" does not exist."}},
        {"links, dot segments and quoted blanks end in the canonical directory",
         "[l]\npath = \"@T@/publink\"\n[b]\npath = \"@T@/with blank\"\n[d]\npath = @T@/pub/sub/.././/\n",
         {{"d", "@T@/pub"}, {"b", "@T@/with blank"}, {"l", "@T@/pub"}},
         {}},
        {"carriage-return line ends", "[pub]\r\npath = @T@/pub\r\nrw = bob\r\n", {{"pub", "@T@/pub", "bob"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<section> expected = c.sections;
        for (section& s : expected)
            s.path = s.path ? std::optional(with_dir(*s.path, dir.path())) : std::nullopt;
        std::vector<std::string> expected_log;
        for (const std::string& line : c.log)
            expected_log.push_back(with_dir(line, dir.path()));
        log.clear();
        share_conf_list list;
        EXPECT_EQ(read(c.content, list), 0);
        EXPECT_EQ(view(list), expected);
        EXPECT_EQ(log.lines(), expected_log);
        EXPECT_EQ(current_dir(), start);
    }
}

TEST_F(ShareConfTest, RelativePathsFollowTheWorkingDirectoryOfTheRead)
{
    cwd_guard back;
    ASSERT_EQ(chdir(dir.file("pub").c_str()), 0);
    share_conf_list list;
    EXPECT_EQ(read("[up]\npath = ..\n[sub]\npath = sub\n[docs]\npath = ./sub/../../docs\n", list), 0);
    EXPECT_EQ(view(list), (std::vector<section>{
                              {"docs", dir.file("docs")}, {"sub", dir.file("pub/sub")}, {"up", dir.path()}}));
    EXPECT_EQ(current_dir(), dir.file("pub"));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ShareConfTest, NewSectionsGoBeforeTheCallersAndKeysNeverReachThem)
{
    share_conf_list list;
    list.push_front(record("kept", "/kept"));
    list.push_front(record("no path"));
    // A key line before the file's first head must not land in the caller's record.
    EXPECT_EQ(read("rw = eve\n[new]\npath = @T@/pub\n", list), 0);
    EXPECT_EQ(view(list), (std::vector<section>{{"new", dir.file("pub")}, {"kept", "/kept"}}));
}

TEST_F(ShareConfTest, FailuresReleaseTheListAndSayWhy)
{
    share_conf_list list;
    list.push_front(record("caller", "/srv"));

    EXPECT_EQ(kestrad_share_read_conf(nullptr, &list), -1);
    EXPECT_EQ(kestrad_share_read_conf(dir.file("x").c_str(), nullptr), -1);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"share.c (654) bad parameter", "share.c (654) bad parameter"}));
    EXPECT_EQ(view(list), (std::vector<section>{{"caller", "/srv"}})) << "a bad call leaves the list alone";

    struct Failure {
        const char* name;
        std::string path;
        std::string message;
    };
    const std::vector<Failure> failures = {
        {"missing file", dir.file("missing.conf"),
         "share.c (661) Failed to open share config [" + dir.file("missing.conf") +
             "], errno:2 (No such file or directory)"},
        // A directory opens, then fails at the first read; it must not pass for an empty file.
        {"directory", dir.file("docs"),
         "share.c (661) Failed to open share config [" + dir.file("docs") + "], errno:21 (Is a directory)"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        log.clear();
        list.push_front(record("caller", "/srv"));
        EXPECT_EQ(kestrad_share_read_conf(f.path.c_str(), &list), -1);
        EXPECT_TRUE(list.empty());
        EXPECT_EQ(log.lines(), std::vector<std::string>{f.message});
    }

    list.push_front(record("caller", "/srv"));
    kestrad_share_free_conf(&list);
    EXPECT_TRUE(list.empty());
    kestrad_share_free_conf(&list);
    kestrad_share_free_conf(nullptr);
    EXPECT_TRUE(list.empty());
}

// Creates directories below the base until the canonical path is exactly `length` long.
std::string directory_of_length(const std::string& base, size_t length, char fill)
{
    std::string path = base;
    while (path.size() < length) {
        const size_t left = length - path.size();
        const size_t part = left <= 201 ? left - 1 : (left - 151 >= 2 ? 150 : 100);
        path += "/" + std::string(part, fill);
        fs::create_directory(path);
    }
    return path;
}

TEST_F(ShareConfTest, CanonicalPathsLongerThan1023AreNotEntered)
{
    const std::string fits = directory_of_length(dir.path(), 1023, 'a');
    const std::string too_long = directory_of_length(dir.path(), 1024, 'b');
    fs::create_directory_symlink(too_long, dir.file("short"));
    share_conf_list list;
    EXPECT_EQ(read("[fits]\npath = " + fits + "\n[long]\npath = " + too_long + "\n[link]\npath = @T@/short\n", list),
              0);
    EXPECT_EQ(view(list), (std::vector<section>{{"fits", fits}}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"share.c (743) path \"" + too_long + "\" does not exist.",
                                                     "share.c (743) path \"" + dir.file("short") +
                                                         "\" does not exist."}));
}

TEST_F(ShareConfTest, OverlongLinesAreDroppedWhole)
{
    // Pieces of a cut line are not what was written: the first would grant "alice" for
    // "alice_smith", a later one would open a section, another would give it a path.
    auto piece = [](std::string text, char pad) {
        text.resize(2047, pad);
        return text;
    };
    const std::string first = "rw = " + std::string(2047 - 5 - 6, 'b') + ",alice";
    std::string huge = first + piece("_smith,", 'x') + piece("[evil]", 'x') + piece("path = @T@/docs", '/');
    huge.resize(1 << 20, 'x');
    // 2047 characters still fit one read and count.
    const std::string fits = "disable_ls = " + std::string(2047 - 13 - 5, 'y') + ",dave";
    ASSERT_EQ(fits.size(), 2047u);
    share_conf_list list;
    EXPECT_EQ(read("[pub]\npath = @T@/pub\n" + huge + "\nro = carol\n" + fits + "\n", list), 0);
    section pub{"pub", dir.file("pub"), {}, "carol"};
    pub.no_ls = fits.substr(13);
    EXPECT_EQ(view(list), (std::vector<section>{pub}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ShareConfTest, BinaryGarbageLeavesOnlySoundSections)
{
    // Random bytes of every value, seeded with the characters the parser looks for.
    std::mt19937 random(20240605);
    const std::vector<std::string> tokens = {"[", "]", "=", "\n", "path", " = ", "#", "\r", std::string(1, '\0')};
    std::string garbage;
    while (garbage.size() < 64 * 1024) {
        if (random() % 4 == 0)
            garbage += tokens[random() % tokens.size()];
        else
            garbage += static_cast<char>(random() & 0xff);
    }
    share_conf_list list;
    EXPECT_EQ(read("[homes]\n" + garbage + "\n[sound]\npath = @T@/pub\nrw = bob\n", list), 0);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(view(list).front(), (section{"sound", dir.file("pub"), "bob"}));
    for (const share_conf& r : list)
        EXPECT_TRUE(r.path || r.name == "homes") << "kept a section without a directory: " << r.name;
    const std::regex known(R"(share\.c \(743\) path "[\s\S]*" does not exist\.)");
    for (const std::string& line : log.lines())
        EXPECT_TRUE(std::regex_match(line, known)) << line;
}

TEST_F(ShareConfTest, DirectoryThatMayNotBeEnteredIsDropped)
{
    // Root enters any directory, so the read runs in a child that has given root up.
    // The child stands in a directory it may enter but not read, to show that the way
    // back does not need to read it either.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(dir.file("locked"));
    fs::permissions(dir.file("locked"), fs::perms::none);
    fs::create_directory(dir.file("enter-only"));
    fs::permissions(dir.file("enter-only"), fs::perms::owner_all | fs::perms::others_exec);
    const std::string file = dir.write("shares.conf", with_dir("[locked]\npath = @T@/locked\n[pub]\npath = ../pub\n",
                                                                dir.path()));
    fs::permissions(file, fs::perms::owner_read | fs::perms::others_read);

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(64);
        struct stat before, after;
        if (chdir(dir.file("enter-only").c_str()) != 0 || stat(".", &before) != 0)
            _exit(65);
        log.clear();
        share_conf_list list;
        int failures = 0;
        if (kestrad_share_read_conf(file.c_str(), &list) != 0)
            failures |= 1;
        if (view(list) != std::vector<section>{{"pub", dir.file("pub")}})
            failures |= 2;
        if (log.lines() != std::vector<std::string>{"share.c (743) path \"" + dir.file("locked") + "\" does not exist."})
            failures |= 4;
        if (stat(".", &after) != 0 || after.st_ino != before.st_ino || after.st_dev != before.st_dev)
            failures |= 8;
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1 result, 2 sections, 4 log, 8 working directory; 64/65 set-up";
}

TEST_F(ShareConfTest, EveryAllocationFailureEndsTheReadCleanly)
{
    // Names and values too long for any small-string buffer, so every copy allocates.
    const std::string content = "[a-section-with-a-long-name]\npath = @T@/pub\nrw = read-write-users-list\n"
                                "ro = read-only-users-list-here\ndisable_download = no-download-users\n"
                                "disable_ls = no-listing-users-list\ndisable_modify = no-modify-users-list\n";
    const std::string file = dir.write("shares.conf", with_dir(content, dir.path()));
    const std::regex out_of_memory(R"(share\.c \((\d+)\) Out of memory)");
    std::set<int> lines;
    bool completed = false;
    for (std::size_t n = 1; n < 100 && !completed; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        share_conf_list list;
        list.push_front(record("a-record-of-the-caller", "/srv"));
        log.clear();
        failing_new::fail_nth(n);
        const int result = kestrad_share_read_conf(file.c_str(), &list);
        const bool fired = failing_new::fired();
        failing_new::fail_nth(0);
        EXPECT_EQ(current_dir(), start);
        if (!fired) {
            completed = true;
            EXPECT_EQ(result, 0);
            EXPECT_EQ(std::distance(list.begin(), list.end()), 2);
            EXPECT_TRUE(log.lines().empty());
            continue;
        }
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(list.empty());
        ASSERT_EQ(log.lines().size(), 1u);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(log.lines()[0], match, out_of_memory)) << log.lines()[0];
        lines.insert(std::stoi(match[1]));
    }
    EXPECT_TRUE(completed);
    EXPECT_EQ(lines, (std::set<int>{682, 687, 711, 717, 723, 729, 735, 747}));
}

} // namespace
